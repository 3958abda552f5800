#include "model/texts.h"

#include "encoding/cp1250.h"

namespace txt {

namespace {
std::string w(const char* utf8) { return utf8ToCp1250(utf8); }
}  // namespace

const std::string MainWindowTitle = w("Dodaj wyprawę");
const std::string SettingsWindowTitle = w("Ustawienia");
const std::string AccountLabel = w("Konto:");
const std::string ZoneLabel = w("Strefa:");
const std::string LuckLabel = w("Szczęście:");
const std::string KindLabel = w("Rodzaj:");
const std::string LinkLabel = w("Poniżej wklej link:");
const std::string ResultCaptionLabel = w("Sprawdź wynik:");
const std::string ResultLabel = w("wynik");
const std::string CheckButton = w("Sprawdz poprawość");
const std::string AppendButton = w("Dopisz");
const std::string AccountListLabel = w("Konta:");
const std::string DeleteButton = w("Usuń");
const std::string NewAccountLabel = w("Nowe:");
const std::string AddButton = w("Dodaj");
const std::string Empty;

const std::string ZoneItems[5] = {w("1s"), w("2s"), w("3s"), w("4s"), w("5s")};
const std::string KindItems[3] = {w("bliska"), w("daleka"), w("pielga")};

const std::string StatNames[9] = {
    w("siła"),     w("zwinność"), w("odporność"),        w("wygląd"), w("charyzma"),
    w("wpływy"),   w("spostrzegawczość"), w("inteligencja"), w("wiedza"),
};

const std::string FatalTitle = w("Bład");
const std::string FatalText = w("Bład krytyczny!");
const std::string ErrorTitle = w("Błąd!");
const std::string SettingsFileError = w("Nie udało się zapisać pliku z ustawieniami!");
const std::string AccountsTitle = w("Tarn wyprawki");
const std::string KeepOneAccount = w("Przynajmniej jedno konto musi by ustawione!");
const std::string AtMostFiveAccounts = w("Można mieć najwyżej 5 kont!");
const std::string NotAFileName = w("Tej nazwy nie można użyć jako nazwy pliku!");

const std::string Downloading = w("pobieranie pliku");
const std::string Downloaded = w("Plik pobrany poprawnie.");
const std::string DownloadFailed = w("Pobieranie pliku nie powiodło sie!");
const std::string CannotReadFile = w("Nie udało się odczytać pliku.");
const std::string NoReportFound = w("Nie znaleziono informacji o wyprawach w pliku.");
const std::string SummaryRead = w("Poprawnie odczytano: ");
const std::string SummaryStat = w(" wypraw.\nstat: ");
const std::string SummaryChance = w(", szansa: ");
const std::string SummaryLuck = w("%\nszczęście: ");
const std::string SummarySuccess = w(", udana: ");
const std::string Yes = w("tak");
const std::string No = w("nie");

const std::string NothingPending = w("Brak nowych wypraw!");
const std::string Appended = w("Dodano do bazy");
const std::string AppendFailed = w("Nie udało się dopisać do bazy!");

}  // namespace txt
