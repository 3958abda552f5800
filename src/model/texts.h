#pragma once
// Every Polish text of the tool, defined once in texts.cpp. The sources are
// UTF-8; these values are the Windows-1250 bytes the program works with.
#include <string>

namespace txt {

// Windows and controls.
extern const std::string MainWindowTitle;      // Dodaj wyprawę
extern const std::string SettingsWindowTitle;  // Ustawienia
extern const std::string AccountLabel;         // Konto:
extern const std::string ZoneLabel;            // Strefa:
extern const std::string LuckLabel;            // Szczęście:
extern const std::string KindLabel;            // Rodzaj:
extern const std::string LinkLabel;            // Poniżej wklej link:
extern const std::string ResultCaptionLabel;   // Sprawdź wynik:
extern const std::string ResultLabel;          // wynik
extern const std::string CheckButton;          // Sprawdz poprawość
extern const std::string AppendButton;         // Dopisz
extern const std::string AccountListLabel;     // Konta:
extern const std::string DeleteButton;         // Usuń
extern const std::string NewAccountLabel;      // Nowe:
extern const std::string AddButton;            // Dodaj
extern const std::string Empty;

// Items of the two choice lists.
extern const std::string ZoneItems[5];  // 1s .. 5s
extern const std::string KindItems[3];  // bliska, daleka, pielga

// Attribute names, StatNames 0..8.
extern const std::string StatNames[9];

// Message boxes.
extern const std::string FatalTitle;           // Bład
extern const std::string FatalText;            // Bład krytyczny!
extern const std::string ErrorTitle;           // Błąd!
extern const std::string SettingsFileError;    // Nie udało się zapisać pliku z ustawieniami!
extern const std::string AccountsTitle;        // Tarn wyprawki
extern const std::string KeepOneAccount;       // Przynajmniej jedno konto musi by ustawione!
extern const std::string AtMostFiveAccounts;   // Można mieć najwyżej 5 kont!
extern const std::string NotAFileName;         // Tej nazwy nie można użyć jako nazwy pliku!

// Result label: the check.
extern const std::string Downloading;          // pobieranie pliku
extern const std::string Downloaded;           // Plik pobrany poprawnie.
extern const std::string DownloadFailed;       // Pobieranie pliku nie powiodło sie!
extern const std::string CannotReadFile;       // Nie udało się odczytać pliku.
extern const std::string NoReportFound;        // Nie znaleziono informacji o wyprawach w pliku.
extern const std::string SummaryRead;          // "Poprawnie odczytano: "
extern const std::string SummaryStat;          // " wypraw.\nstat: "
extern const std::string SummaryChance;        // ", szansa: "
extern const std::string SummaryLuck;          // "%\nszczęście: "
extern const std::string SummarySuccess;       // ", udana: "
extern const std::string Yes;                  // tak
extern const std::string No;                   // nie

// Result label: the append.
extern const std::string NothingPending;       // Brak nowych wypraw!
extern const std::string Appended;             // Dodano do bazy
extern const std::string AppendFailed;         // Nie udało się dopisać do bazy!

}  // namespace txt
