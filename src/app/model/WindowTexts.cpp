#include "app/model/WindowTexts.h"

namespace qv {

namespace {

const CommandText kCommands[kCommandCount] = {
    {"act_add_one", "Zaznacz &jedną", "Zaznacza pozycję", 4},
    {"act_add_all", "&Zaznacz wszystkie", "Zaznacza wszystkie firmy", 3},
    {"act_del_all", "&Odznacz wszystkie", "Kasuje wszystkie zaznaczenie ", 5},
    {"act_Archiwizuj", "Twórz archiwum",
     "Rozpoczyna archiwizację\r\ntj. tworzy plik archiwum z danymi zaznaczonych firm", 8},
    {"act_Restore", "Odtwórz z archiwum ...",
     "Odtwarza dane z archiwum dla aktualnie wskazywanej firmy\r\nz bieżąco wskazanego pliku archiwum", 0},
    {"act_pokarz", "Pokaż zawartość", "Pokazuje zawartość pliku archiwum", 9},
    {"act_koniec", "Koniec pracy", "Koniec pracy z programem", 17},
    {"act_FTP", "Wyślij pliki do autora", "Wysyła plik archiwum internetem do FTP autora", 6},
    {"act_GenerujPlik", "Generuj nazwę pliku", "Tworzy nową nazwę pliku funkcji dnia i godziny", 19},
};

MenuEntry command(Command c) { return {MenuEntry::CommandEntry, c, ""}; }
MenuEntry separator(const char *name) { return {MenuEntry::Separator, Command::Exit, name}; }
ToolEntry button(Command c) { return {false, c, 0, ""}; }
ToolEntry gap(const char *name, int width) { return {true, Command::Exit, width, name}; }

}  // namespace

const CommandText &TextOf(Command c) { return kCommands[static_cast<int>(c)]; }

bool OpensLogWindow(Command c)
{
    return c == Command::Archive || c == Command::Restore || c == Command::List || c == Command::Upload;
}

const std::vector<MenuText> &MainMenus()
{
    static const std::vector<MenuText> menus = {
        {"mi_Zaznaczenie",
         "&Archiwum",
         {command(Command::GenerateName), command(Command::Archive), command(Command::List),
          command(Command::Restore), separator("mi_a3"), command(Command::Upload), separator("mi_A_1"),
          command(Command::AddAll), command(Command::DelAll)}},
        {"mi_Wyjscie",
         "Wyjście",
         {command(Command::Exit), separator("N1"), {MenuEntry::HintsSwitch, Command::Exit, "mi_help"},
          {MenuEntry::About, Command::Exit, "mi_about"}}},
    };
    return menus;
}

const std::vector<ToolEntry> &MainToolBar()
{
    static const std::vector<ToolEntry> tools = {
        button(Command::GenerateName), gap("ToolButton10", 8), button(Command::AddAll), button(Command::DelAll),
        gap("ToolButton3", 8),         button(Command::Archive), gap("ToolButton5", 8), button(Command::Upload),
        gap("ToolButton7", 29),        button(Command::Exit),
    };
    return tools;
}

namespace text {
const char *const kArchiveFieldHint = "Tu wpisujesz, wybbierasz nazwę pliku archiwum.\r\nNazwę pliku można również "
                                      "wygenerowac automatycznie \r\nz menu Archiwum / Generuj nazwę pliku";
const char *const kDataFolderHint = "Jest to folder z danymi firm programu ldg\r\n- domyślnie \r\nw 2004 - "
                                    "c:\\ldg_2004\r\nw 2005 - c:\\ldg_2005\r\nW katalogu tym MUSI znajdować się plik "
                                    "SPISFIRM.DAT\r\nwg którego ustalana jest lista firm.";
const char *const kGridHint = "Do archiwizowania wybierane są firmy z zaznaczonym polem\r\nArchiwizauj = Tak\r\n"
                              "Zaznaczamy \r\na) pojedynczą firmę : kliknięciem myszki, spacją, enterem\r\n"
                              "b) wszystkie : klawiszem \"+\", odpowiednim przyciskiem\r\n"
                              "c) żadną : klawiszem \"-\", odpowiednim przyciskiem";
const char *const kAboutText = "Archiwizator danych księgowych Programu LDG_2005 wersja 1.00 z 03.03.2005\r"
                               "tworząca jeden plik archiwum *.cab z wybranych firm.\r"
                               "Możliwość przesłania tego pliku w celach serwisowych do autora";
}  // namespace text

}  // namespace qv
