// Options are "--name" or "--name VALUE" / "--name=VALUE"; each may appear
// once. A command line is refused as a whole at its first fault, before
// anything has been read or written, so a scheduled job with a typing error
// fails at once with exit status 2 instead of doing something else.
#include "cli/Options.h"

#include <map>
#include <optional>
#include <set>

namespace qv::cli {

UsageError::UsageError(const QString &message) : std::runtime_error(message.toStdString()) {}

QString UsageError::message() const { return QString::fromStdString(what()); }

namespace {

enum class Kind { Flag, Value };

struct OptionRule {
    Kind kind;
    std::optional<Command> command;  // set for the options that are commands
};

const std::map<QString, OptionRule> &rules()
{
    static const std::map<QString, OptionRule> table{
        {QStringLiteral("--archive"), {Kind::Flag, Command::Archive}},
        {QStringLiteral("--list"), {Kind::Value, Command::List}},
        {QStringLiteral("--test"), {Kind::Value, Command::Test}},
        {QStringLiteral("--restore"), {Kind::Value, Command::Restore}},
        {QStringLiteral("--help"), {Kind::Flag, Command::Help}},
        {QStringLiteral("--version"), {Kind::Flag, Command::Version}},
        {QStringLiteral("--all"), {Kind::Flag, std::nullopt}},
        {QStringLiteral("--companies"), {Kind::Value, std::nullopt}},
        {QStringLiteral("--data"), {Kind::Value, std::nullopt}},
        {QStringLiteral("--output"), {Kind::Value, std::nullopt}},
        {QStringLiteral("--generate-name"), {Kind::Flag, std::nullopt}},
        {QStringLiteral("--upload"), {Kind::Flag, std::nullopt}},
        {QStringLiteral("--keep"), {Kind::Value, std::nullopt}},
        {QStringLiteral("--log"), {Kind::Value, std::nullopt}},
        {QStringLiteral("--from"), {Kind::Value, std::nullopt}},
        {QStringLiteral("--yes"), {Kind::Flag, std::nullopt}},
        {QStringLiteral("--lock-wait"), {Kind::Value, std::nullopt}},
    };
    return table;
}

// Which options each command takes besides itself.
const std::set<QString> &allowedWith(Command command)
{
    static const std::set<QString> archive{QStringLiteral("--all"),    QStringLiteral("--companies"),
                                           QStringLiteral("--data"),   QStringLiteral("--output"),
                                           QStringLiteral("--generate-name"), QStringLiteral("--upload"),
                                           QStringLiteral("--keep"),   QStringLiteral("--log"),
                                           QStringLiteral("--yes"),    QStringLiteral("--lock-wait")};
    static const std::set<QString> inspect{QStringLiteral("--log")};
    static const std::set<QString> restore{QStringLiteral("--from"), QStringLiteral("--data"), QStringLiteral("--yes"),
                                           QStringLiteral("--log"), QStringLiteral("--lock-wait")};
    static const std::set<QString> none;
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

int wholeNumber(const QString &option, const QString &text, int least)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < least)
        throw UsageError(QStringLiteral("Opcja %1 wymaga liczby całkowitej nie mniejszej niż %2, podano \"%3\"")
                             .arg(option)
                             .arg(least)
                             .arg(text));
    return n;
}

QString nonEmpty(const QString &option, const QString &value)
{
    if (value.trimmed().isEmpty())
        throw UsageError(QStringLiteral("Opcja %1 wymaga niepustej wartości").arg(option));
    return value;
}

}  // namespace

Options ParseOptions(const QStringList &args)
{
    // --help and --version answer whatever else is there.
    for (const QString &a : args) {
        if (a == QLatin1String("--help"))
            return Options{};
    }
    for (const QString &a : args) {
        if (a == QLatin1String("--version")) {
            Options o;
            o.command = Command::Version;
            return o;
        }
    }

    std::map<QString, QString> given;  // option -> value ("" for a flag)
    QStringList order;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (!arg.startsWith(QLatin1String("--")))
            throw UsageError(QStringLiteral("Nieoczekiwany argument \"%1\"").arg(arg));
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? arg : arg.left(eq);
        const auto rule = rules().find(name);
        if (rule == rules().end())
            throw UsageError(QStringLiteral("Nieznana opcja %1").arg(name));
        if (given.count(name))
            throw UsageError(QStringLiteral("Opcja %1 podana więcej niż raz").arg(name));
        QString value;
        if (rule->second.kind == Kind::Flag) {
            if (eq >= 0)
                throw UsageError(QStringLiteral("Opcja %1 nie przyjmuje wartości").arg(name));
        } else if (eq >= 0) {
            value = arg.mid(eq + 1);
        } else {
            if (i + 1 >= args.size())
                throw UsageError(QStringLiteral("Opcja %1 wymaga wartości").arg(name));
            value = args[++i];
        }
        given[name] = value;
        order << name;
    }

    QStringList commands;
    for (const QString &name : order)
        if (rules().at(name).command)
            commands << name;
    if (commands.isEmpty())
        throw UsageError(QStringLiteral("Brak polecenia: podaj --archive, --list, --test albo --restore"));
    if (commands.size() > 1)
        throw UsageError(QStringLiteral("Podaj jedno polecenie, nie %1 i %2").arg(commands[0], commands[1]));

    Options o;
    o.command = *rules().at(commands[0]).command;
    for (const QString &name : order)
        if (name != commands[0] && !allowedWith(o.command).count(name))
            throw UsageError(QStringLiteral("Opcja %1 nie dotyczy polecenia %2").arg(name, commands[0]));

    const auto has = [&](const char *name) { return given.count(QLatin1String(name)) > 0; };
    const auto value = [&](const char *name) { return given.at(QLatin1String(name)); };
    if (has("--data"))
        o.data = nonEmpty(QStringLiteral("--data"), value("--data"));
    if (has("--log"))
        o.log = nonEmpty(QStringLiteral("--log"), value("--log"));
    o.yes = has("--yes");
    if (has("--lock-wait"))
        o.lockWaitSeconds = wholeNumber(QStringLiteral("--lock-wait"), value("--lock-wait"), 0);

    switch (o.command) {
    case Command::Archive: {
        if (has("--all") == has("--companies"))
            throw UsageError(has("--all") ? QStringLiteral("Podaj --all albo --companies, nie obie")
                                          : QStringLiteral("--archive wymaga --all albo --companies KAT1,KAT2,..."));
        o.all = has("--all");
        if (has("--companies")) {
            for (const QString &name : value("--companies").split(QLatin1Char(','))) {
                const QString katalog = name.trimmed();
                if (katalog.isEmpty())
                    throw UsageError(QStringLiteral("Pusta nazwa firmy w --companies \"%1\"").arg(value("--companies")));
                o.companies << katalog;
            }
        }
        if (has("--output") && has("--generate-name"))
            throw UsageError(QStringLiteral("Podaj --output albo --generate-name, nie obie"));
        if (has("--output"))
            o.output = nonEmpty(QStringLiteral("--output"), value("--output"));
        o.generateName = has("--generate-name");
        if (has("--keep")) {
            if (!o.generateName)
                throw UsageError(QStringLiteral("--keep działa tylko z --generate-name"));
            o.keep = wholeNumber(QStringLiteral("--keep"), value("--keep"), 1);
        }
        o.upload = has("--upload");
        break;
    }
    case Command::List:
    case Command::Test:
        o.file = nonEmpty(commands[0], given.at(commands[0]));
        break;
    case Command::Restore:
        o.company = nonEmpty(QStringLiteral("--restore"), value("--restore")).trimmed();
        if (!has("--from"))
            throw UsageError(QStringLiteral("--restore wymaga --from PLIK.cab"));
        o.file = nonEmpty(QStringLiteral("--from"), value("--from"));
        // The window asks twice; here the command line itself must say yes.
        if (!o.yes)
            throw UsageError(QStringLiteral("Odtwarzanie zastępuje pliki firmy danymi z archiwum: potwierdź je "
                                            "opcją --yes"));
        break;
    case Command::Help:
    case Command::Version: break;
    }
    return o;
}

QString UsageHint(const QString &program)
{
    return QStringLiteral("Opis użycia: %1 --help").arg(program);
}

QString HelpText(const QString &program)
{
    return QStringLiteral(
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
               "Plik ustawień (katalog danych, nazwa archiwum, dane serwera) jest tylko czytany.\n")
        .arg(program);
}

}  // namespace qv::cli
