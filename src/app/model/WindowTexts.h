// The main window's commands, menus, toolbar and fixed texts, as both windows
// (Qt's on Linux, the native one on Windows) build them. Texts are UTF-8;
// "\r\n" separates the lines of a hint, "&" marks a menu mnemonic.
#pragma once

#include <string>
#include <vector>

namespace qv {

enum class Command {
    AddOne,        // act_add_one: mark or unmark the current company
    AddAll,        // act_add_all
    DelAll,        // act_del_all
    Archive,       // act_Archiwizuj: "Twórz archiwum"
    Restore,       // act_Restore
    List,          // act_pokarz: "Pokaż zawartość"
    Exit,          // act_koniec
    Upload,        // act_FTP
    GenerateName,  // act_GenerujPlik
};
inline constexpr int kCommandCount = 9;

struct CommandText {
    const char *objectName;  // "act_Archiwizuj"
    const char *caption;     // "Twórz archiwum"
    const char *hint;
    int glyph;               // index of src/app/glyphs/NN.png
};
const CommandText &TextOf(Command command);
// The commands that open a log window: disabled while an operation runs.
bool OpensLogWindow(Command command);

// A menu entry: a command, a separator, or one of the two entries of their
// own (the hints switch, the about box).
struct MenuEntry {
    enum Kind { CommandEntry, Separator, HintsSwitch, About } kind;
    Command command = Command::Exit;
    const char *objectName = "";  // of a separator, the switch or the box
};
struct MenuText {
    const char *objectName;  // "mi_Zaznaczenie"
    const char *caption;     // "&Archiwum"
    std::vector<MenuEntry> entries;
};
const std::vector<MenuText> &MainMenus();

// A toolbar button, or a gap of a width in pixels before the next one.
struct ToolEntry {
    bool gap = false;
    Command command = Command::Exit;
    int gapWidth = 0;
    const char *objectName = "";
};
const std::vector<ToolEntry> &MainToolBar();

namespace text {
inline constexpr const char *kMainTitle = "qvArchiwizator *.cab";
inline constexpr const char *kArchiveLabel = "Plik archiwum *.cab";
inline constexpr const char *kDataFolderLabel = "Lokalizacja danych ldg_2005";
extern const char *const kArchiveFieldHint;
extern const char *const kDataFolderHint;
extern const char *const kGridHint;
extern const char *const kAboutText;
inline constexpr const char *kHintsSwitchOff = "Włącz podpowiedzi";  // before the first switch
inline constexpr const char *kHintsSwitchOffAgain = "Włącz podpowiedzi w dymkach";
inline constexpr const char *kHintsSwitchOn = "Wyłącz podpowiedzi";
inline constexpr const char *kHintsSwitchHint = "Przełącza tryb podpoweidzi";
inline constexpr const char *kAboutCaption = "O programie ...";
inline constexpr const char *kChooseDataFolder = "Wybierz katalog danych progamu LDG_2005";
inline constexpr const char *kBrowseArchiveTitle = "Wskaż plik archiwum *.cab";
inline constexpr const char *kBrowseArchiveFilter = "Pliki archiwum (*.cab)|*.cab|Wszystkie pliki (*.*)|*.*";
inline constexpr const char *kBrowseFolderPrompt = "Wskaż katalog danyh LDG";
inline constexpr const char *kCloseQuestion = "Trwa operacja na archiwum.\rPrzerwać ją i zakończyć pracę z programem ?";
inline constexpr const char *kCloseCaption = "Potwierdź zakończenie pracy... ";
inline constexpr const char *kClosingStoppedLine = "-!- Przerwano - program jest zamykany -!- ";
// The log window.
inline constexpr const char *kLogCaptionTemplate = "Zawartość archiwum %1";
inline constexpr const char *kLogFirstCaption = "Zawartość archiwum ";
inline constexpr const char *kLogClose = "Zamknij";
}  // namespace text

// The main window's design place and size (also its smallest size), and the
// log window's.
inline constexpr int kMainDesignLeft = 194;
inline constexpr int kMainDesignTop = 148;
inline constexpr int kLogDesignLeft = 417;
inline constexpr int kLogDesignTop = 262;

}  // namespace qv
