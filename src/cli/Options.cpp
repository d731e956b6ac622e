// Options are "--name" or "--name VALUE" / "--name=VALUE"; each may appear
// once. A command line is refused as a whole at its first fault, before
// anything has been read or written, so a scheduled job with a typing error
// fails at once with exit status 2 instead of doing something else.
#include "cli/Options.h"

#include "platform/text.h"

#include <climits>
#include <map>
#include <optional>
#include <set>

namespace qv::cli {

namespace {

enum class Kind { Flag, Value };

struct OptionRule {
    Kind kind;
    std::optional<Command> command;  // set for the options that are commands
};

const std::map<std::string, OptionRule> &rules()
{
    static const std::map<std::string, OptionRule> table{
        {"--archive", {Kind::Flag, Command::Archive}},
        {"--list", {Kind::Value, Command::List}},
        {"--test", {Kind::Value, Command::Test}},
        {"--restore", {Kind::Value, Command::Restore}},
        {"--help", {Kind::Flag, Command::Help}},
        {"--version", {Kind::Flag, Command::Version}},
        {"--all", {Kind::Flag, std::nullopt}},
        {"--companies", {Kind::Value, std::nullopt}},
        {"--data", {Kind::Value, std::nullopt}},
        {"--output", {Kind::Value, std::nullopt}},
        {"--generate-name", {Kind::Flag, std::nullopt}},
        {"--upload", {Kind::Flag, std::nullopt}},
        {"--keep", {Kind::Value, std::nullopt}},
        {"--log", {Kind::Value, std::nullopt}},
        {"--from", {Kind::Value, std::nullopt}},
        {"--yes", {Kind::Flag, std::nullopt}},
        {"--lock-wait", {Kind::Value, std::nullopt}},
    };
    return table;
}

// Which options each command takes besides itself.
const std::set<std::string> &allowedWith(Command command)
{
    static const std::set<std::string> archive{"--all",    "--companies", "--data", "--output", "--generate-name",
                                               "--upload", "--keep",      "--log",  "--yes",    "--lock-wait"};
    static const std::set<std::string> inspect{"--log"};
    static const std::set<std::string> restore{"--from", "--data", "--yes", "--log", "--lock-wait"};
    static const std::set<std::string> none;
    switch (command) {
    case Command::Archive: return archive;
    case Command::List:
    case Command::Test: return inspect;
    case Command::Restore: return restore;
    case Command::Help:
    case Command::Version: break;
    }
    return none;
}

// A whole number as written by a person: blanks around it and a sign allowed.
std::optional<int> parseWhole(const std::string &text)
{
    const std::string t = Trimmed(text);
    const std::size_t first = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
    if (first == t.size() || t.size() > 11)
        return std::nullopt;
    for (std::size_t i = first; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9')
            return std::nullopt;
    const long long v = std::stoll(t);
    if (v < INT_MIN || v > INT_MAX)
        return std::nullopt;
    return static_cast<int>(v);
}

int wholeNumber(const std::string &option, const std::string &text, int least)
{
    const std::optional<int> n = parseWhole(text);
    if (!n || *n < least)
        throw UsageError(Format("Opcja %1 wymaga liczby całkowitej nie mniejszej niż %2, podano \"%3\"",
                                {option, std::to_string(least), text}));
    return *n;
}

std::string nonEmpty(const std::string &option, const std::string &value)
{
    if (Trimmed(value).empty())
        throw UsageError(Format("Opcja %1 wymaga niepustej wartości", {option}));
    return value;
}

}  // namespace

Options ParseOptions(const std::vector<std::string> &args)
{
    // --help and --version answer whatever else is there.
    for (const std::string &a : args) {
        if (a == "--help")
            return Options{};
    }
    for (const std::string &a : args) {
        if (a == "--version") {
            Options o;
            o.command = Command::Version;
            return o;
        }
    }

    std::map<std::string, std::string> given;  // option -> value ("" for a flag)
    std::vector<std::string> order;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.rfind("--", 0) != 0)
            throw UsageError(Format("Nieoczekiwany argument \"%1\"", {arg}));
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const auto rule = rules().find(name);
        if (rule == rules().end())
            throw UsageError(Format("Nieznana opcja %1", {name}));
        if (given.count(name))
            throw UsageError(Format("Opcja %1 podana więcej niż raz", {name}));
        std::string value;
        if (rule->second.kind == Kind::Flag) {
            if (eq != std::string::npos)
                throw UsageError(Format("Opcja %1 nie przyjmuje wartości", {name}));
        } else if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else {
            if (i + 1 >= args.size())
                throw UsageError(Format("Opcja %1 wymaga wartości", {name}));
            value = args[++i];
        }
        given[name] = value;
        order.push_back(name);
    }

    std::vector<std::string> commands;
    for (const std::string &name : order)
        if (rules().at(name).command)
            commands.push_back(name);
    if (commands.empty())
        throw UsageError("Brak polecenia: podaj --archive, --list, --test albo --restore");
    if (commands.size() > 1)
        throw UsageError(Format("Podaj jedno polecenie, nie %1 i %2", {commands[0], commands[1]}));

    Options o;
    o.command = *rules().at(commands[0]).command;
    for (const std::string &name : order)
        if (name != commands[0] && !allowedWith(o.command).count(name))
            throw UsageError(Format("Opcja %1 nie dotyczy polecenia %2", {name, commands[0]}));

    const auto has = [&](const char *name) { return given.count(name) > 0; };
    const auto value = [&](const char *name) { return given.at(name); };
    if (has("--data"))
        o.data = nonEmpty("--data", value("--data"));
    if (has("--log"))
        o.log = nonEmpty("--log", value("--log"));
    o.yes = has("--yes");
    if (has("--lock-wait"))
        o.lockWaitSeconds = wholeNumber("--lock-wait", value("--lock-wait"), 0);

    switch (o.command) {
    case Command::Archive: {
        if (has("--all") == has("--companies"))
            throw UsageError(has("--all") ? "Podaj --all albo --companies, nie obie"
                                          : "--archive wymaga --all albo --companies KAT1,KAT2,...");
        o.all = has("--all");
        if (has("--companies")) {
            const std::string list = value("--companies");
            for (std::size_t start = 0;;) {
                const std::size_t comma = list.find(',', start);
                const std::string katalog = Trimmed(list.substr(start, comma - start));
                if (katalog.empty())
                    throw UsageError(Format("Pusta nazwa firmy w --companies \"%1\"", {list}));
                o.companies.push_back(katalog);
                if (comma == std::string::npos)
                    break;
                start = comma + 1;
            }
        }
        if (has("--output") && has("--generate-name"))
            throw UsageError("Podaj --output albo --generate-name, nie obie");
        if (has("--output"))
            o.output = nonEmpty("--output", value("--output"));
        o.generateName = has("--generate-name");
        if (has("--keep")) {
            if (!o.generateName)
                throw UsageError("--keep działa tylko z --generate-name");
            o.keep = wholeNumber("--keep", value("--keep"), 1);
        }
        o.upload = has("--upload");
        break;
    }
    case Command::List:
    case Command::Test:
        o.file = nonEmpty(commands[0], given.at(commands[0]));
        break;
    case Command::Restore:
        o.company = Trimmed(nonEmpty("--restore", value("--restore")));
        if (!has("--from"))
            throw UsageError("--restore wymaga --from PLIK.cab");
        o.file = nonEmpty("--from", value("--from"));
        // The window asks twice; here the command line itself must say yes.
        if (!o.yes)
            throw UsageError("Odtwarzanie zastępuje pliki firmy danymi z archiwum: potwierdź je opcją --yes");
        break;
    case Command::Help:
    case Command::Version: break;
    }
    return o;
}

std::string UsageHint(const std::string &program) { return Format("Opis użycia: %1 --help", {program}); }

std::string HelpText(const std::string &program)
{
    return Format(
               "Użycie:\n"
               "  %1 --archive (--all | --companies KAT1,KAT2,...) [--data KATALOG]\n"
               "                 [--output PLIK.cab | --generate-name [--keep N]] [--upload] [--yes]\n"
               "  %1 --list PLIK.cab\n"
               "  %1 --test PLIK.cab\n"
               "  %1 --restore KAT --from PLIK.cab [--data KATALOG] --yes\n"
               "  %1 --help | --version\n"
               "Bez argumentów program otwiera swoje okno.\n"
               "\n"
               "Polecenia:\n"
               "  --archive          tworzy archiwum z danych wskazanych firm (jak \"Twórz archiwum\")\n"
               "  --list PLIK        pokazuje zawartość archiwum (jak \"Pokaż zawartość\")\n"
               "  --test PLIK        sprawdza archiwum: sumy kontrolne i wielkości wszystkich plików;\n"
               "                     niczego nie zapisuje\n"
               "  --restore KAT      odtwarza dane firmy o katalogu KAT z archiwum (jak \"Odtwórz z archiwum\")\n"
               "\n"
               "Opcje:\n"
               "  --all              wszystkie firmy z rejestru SPISFIRM.DAT\n"
               "  --companies LISTA  firmy o podanych katalogach, rozdzielonych przecinkami (wielkość liter\n"
               "                     bez znaczenia)\n"
               "  --data KATALOG     katalog danych programu LDG (domyślnie ten z pliku ustawień)\n"
               "  --output PLIK      plik archiwum (domyślnie ten z pliku ustawień)\n"
               "  --generate-name    nazwa pliku jak \"Generuj nazwę pliku\": KATALOG\\ArchRRRR-MM-DD_GGMM.cab\n"
               "  --keep N           po utworzeniu i sprawdzeniu archiwum usuwa z jego katalogu starsze archiwa\n"
               "                     o takiej nazwie ponad N najnowszych; innych plików nie rusza\n"
               "  --upload           wysyła nowe archiwum na serwer (jak \"Wyślij pliki do autora\")\n"
               "  --from PLIK        archiwum, z którego odtwarzać\n"
               "  --yes              zgoda na zastąpienie danych: istniejącego pliku archiwum (--archive)\n"
               "                     albo plików firmy (--restore, wymagana)\n"
               "  --log PLIK         dopisuje każdy wiersz z datą i godziną do pliku dziennika\n"
               "  --lock-wait S      ile sekund czekać, gdy inna archiwizacja lub odtwarzanie używa\n"
               "                     tego samego katalogu danych (domyślnie 60)\n"
               "\n"
               "Wiersze przebiegu idą na standardowe wyjście, komunikaty i błędy na standardowe wyjście błędów.\n"
               "Kod wyjścia: 0 - operacja udana, 1 - operacja nieudana lub odmówiona, 2 - błąd w wywołaniu.\n"
               "Plik ustawień (katalog danych, nazwa archiwum, dane serwera) jest tylko czytany.\n",
                  {program});
}

}  // namespace qv::cli
