// The voice dialogue modes: listen for one recogniser message at a time, show
// the word, and when a word means something, answer aloud with the recogniser
// paused so that the robot does not hear itself.

#include <cstring>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "shell/console/f_graph.h"
#include "speech/speech.h"

int prisijungimas = 0;
int robotorezimas = 0;
char* naujasZodis = nullptr;
char* senasZodis = nullptr;

namespace {

constexpr int kKeyEsc = 27;
constexpr int kKeyRepliesToggle = 'd';
constexpr int kSpeechHidden = 0;   // replies run without a window
constexpr int kIdleMarkDelayMs = 500;
constexpr int kSettleMs = 500;     // around the last message a mode drops
constexpr int kLostRecogniserPauseMs = 150;  // between looks at a closed connection

constexpr const char* kHandledMark = "+";
constexpr const char* kIdleMark = "-";

bool wordIs(const char* word, const char* keyword) { return std::strcmp(word, keyword) == 0; }

// Writes over the word buffer (which always holds kRecogniserLineSize bytes).
void markWord(char* word, const char* mark) { std::strcpy(word, mark); }

// Waits for one whole recogniser message and shows its word on the mode's row.
// A recogniser that has gone sends nothing more and do_output returns at once:
// the pause keeps the mode's loop from spinning while it still sees the keys.
char* readWord(int row) {
    char* word = do_output(prisijungimas);
    if (recogniserLost()) platform::sleepMs(kLostRecogniserPauseMs);
    gf.gotoxy(1, row);
    gf.printf("%42s", "");
    gf.gotoxy(1, row);
    gf.printf(" Atpazintas  zodis : %s ", word);
    return word;
}

void takeWaitingKey() {
    if (platform::_kbhit()) keyPressed = platform::_getch();
}

// Recognition starts; one pass of the multiplexer takes what is already there
// (in the demonstration its client line shows in its own colour).
void startListening(int passColour = -1) {
    komanda_resume_recog(prisijungimas);
    if (passColour >= 0) gf.setColor(static_cast<unsigned short>(passColour));
    command_loop(prisijungimas, 1);
    gf.setColor(128);
}

// Answers a word: the recogniser is paused while the robot speaks.
void handledReply(char* word, const char* reply, int speechMs) {
    komanda_pause_recog(prisijungimas);
    platform::WinExec(reply, kSpeechHidden);
    markWord(word, kHandledMark);
    platform::sleepMs(speechMs);
    komanda_resume_recog(prisijungimas);
}

// A mode leaves recognition paused, after dropping the message that follows
// its last answer.
void stopListening() {
    platform::sleepMs(kSettleMs);
    do_output(prisijungimas);
    platform::sleepMs(kSettleMs);
    komanda_pause_recog(prisijungimas);
}

// A word handled before stays "+" until a message without words has come.
void turnHandledIntoIdle(char* word) {
    if (!wordIs(word, kHandledMark)) return;
    platform::sleepMs(kIdleMarkDelayMs);
    markWord(word, kIdleMark);
}

void showGreetingHelp() {
    gf.setColor(96);
    gf.gotoxy(1, 52);
    gf.printf(" Pasisveikink su robotu: \n");
    gf.printf(" Pasakyk zodi: 'SVEIKAS' tada pasikurs !!!\n");
    gf.setColor(72);
    gf.gotoxy(1, 54);
    gf.printf(" Paleistas kalbos atpazibimo serveris !!! \n");
    gf.printf("         Pakalbek su draugeliu        !!! \n");
    gf.printf(" Iseiti spausti 'esc' ir + bet koks garsas\n");
}

// ---- Robot work-mode choice ----

struct SpokenChoice {
    const char* word;
    const char* reply;
    int speechMs;
    int robotMode;
};

const SpokenChoice kBackToMenu = {"SVEIKAS", "eSpeak.exe -v lv+m4 naa...daarr...la'ba'sz", 3000, 0};
const SpokenChoice kWorkModes[] = {
    {"SURASK", "eSpeak.exe -v de+m4  ijeaschkauu", 3000, 2},
    {"KAS", "eSpeak.exe -v lv+m4  kaasz", 1000, 1},
    {"PIRMYN", "eSpeak.exe -v lv+m4  eyjnuu", 1400, 3},
};

const SpokenChoice* chosenWorkMode(const char* word) {
    if (wordIs(word, kBackToMenu.word) || keyPressed == kKeyLeaveMode) return &kBackToMenu;
    for (const SpokenChoice& choice : kWorkModes)
        if (wordIs(word, choice.word)) return &choice;
    return nullptr;
}

void showWorkModeChoices() {
    gf.clrscr();
    gf.setColor(96);
    gf.gotoxy(1, 10);
    gf.printf("Isrink roboto darbo rezima:\n");
    gf.printf("'SURASK' - iesko daikto kuri reikia parodyti \n");
    gf.printf("'KAS'    - iesko pazistamu veidu             \n");
    gf.printf("'PIRMYN' - stereo navigacija (klaidziojimas) \n");
    gf.setColor(72);
    gf.gotoxy(1, 54);
    gf.printf(" Paleistas kalbos atpazibimo serveris !!!          \n");
    gf.printf("            Ka robotui daryti ???     !!!          \n");
    gf.printf(" ISEITI i meniu: spausti 'm' ir + bet koks garsas\n");
    gf.printf("            arba  pasakyti dar karta zodi  'SVEIKAS'");
}

// ---- Demonstration ----

struct DemoAnswer {
    const char* heard;  // as the recogniser spells it
    const char* reply;
    int speechMs;
};

const DemoAnswer kDemoAnswers[] = {
    {"APLINK", "eSpeak.exe -v lv+m4  aap`lyiynk", 1800},
    {"APSISUK", "eSpeak.exe -v lv+m4  aap`syi`sook", 2000},
    {"ATGAL", "eSpeak.exe -v lv+m4  aat`gaaall", 1400},
    {"CHIA", "eSpeak.exe -v en+m4  chiyaa", 1000},
    {"DESHINEEN", "eSpeak.exe -v en+m4  dea`shyy`neaen", 2000},
    {"EIK", "eSpeak.exe -v lv+m4  eiyjk", 1000},
    {"GERO", "eSpeak.exe -v lv+m4  gearo", 1000},
    {"I", "eSpeak.exe -v lv+m4  yy", 800},
    {"ISIDEMEEK", "eSpeak.exe -v lv+m4  yy`syyy`deea`meek", 2000},
    {"JAUTIES", "eSpeak.exe -v lv+m4  yjaauu`tjieesz", 2000},
    {"JUDEEK", "eSpeak.exe -v lv+m4  juu`deek", 1800},
    {"KA", "eSpeak.exe -v lv+m4  kaa", 800},
    {"KAS", "eSpeak.exe -v lv+m4  kaasz", 1000},
    {"KAIP", "eSpeak.exe -v lv+m4  kajyp", 1200},
    {"KAIREEN", "eSpeak.exe -v lv+m4  kayj`rean", 2800},
    {"KO", "eSpeak.exe -v lv+m4  kooo", 1000},
    {"MATAI", "eSpeak.exe -v lv+m4  maa`tayi", 1900},
    {"NAMO", "eSpeak.exe -v lv+m4  naa`moo", 1500},
    {"NORI", "eSpeak.exe -v lv+m4  noo`riy", 1400},
    {"PAIMK", "eSpeak.exe -v lv+m4  paa`ymk", 1500},
    {"PAZHIUREEK", "eSpeak.exe -v en+m4  paa`zhioo`reeak", 2200},
    {"PIRMYN", "eSpeak.exe -v lv+m4  .......pyyr`myyn", 2000},
    {"STOK", "eSpeak.exe -v lv+m4 sztooopp", 1500},
    {"STOP", "eSpeak.exe -v lv+m4 sztooopp", 1500},
    {"SVEIKAS", "eSpeak.exe -v lv+m4  la'ba'sz", 2000},
    {"SURASK", "eSpeak.exe -v lv+m4  szuu`raazsk", 1800},
    {"TU", "eSpeak.exe -v lv+m4  tuu", 1000},
    {"VEIKI", "eSpeak.exe -v lv+m4  veiy`kiy", 1500},
    {"VIETA", "eSpeak.exe -v lv+m4  vjiee`taaa", 1500},
    {"VIRSHU", "eSpeak.exe -v en+m4  vyirr`shoo", 1700},
    {"ZHEMYN", "eSpeak.exe -v en+m4  zhea`meeyynn", 1700},
};

// The words as the operator reads them, in three blocks of the list.
const char* const kDemoWordList[] = {
    "APLINK", "APSISUK", "ATGAL", "CIA", "DESINEN", "EIK", "GERO", "I", "ISIDEMEK", "JAUTIES",
    "JUDEK", "KA", "KAS", "KAIP", "KAIREN", "KO", "MATAI", "NAMO", "NORI", "PAIMK", "PAZIUREK",
    "PIRMYN", "STOK", "SURASK", "SVEIKAS", "TU", "VEIKI", "VIETA", "VIRSU", "ZHEMYN",
};

void answerDemoWord(char* word) {
    for (const DemoAnswer& answer : kDemoAnswers) {
        if (wordIs(word, answer.heard)) {
            handledReply(word, answer.reply, answer.speechMs);
            return;
        }
    }
    turnHandledIntoIdle(word);
}

void showDemoWords() {
    gf.setColor(96);
    gf.gotoxy(1, 1);
    gf.printf(" NAUDOJAMI ZODZIAI : \n");
    gf.setColor(100);
    for (const char* word : kDemoWordList) gf.printf(" %-10s\n", word);
}

void showDemoHelp() {
    const char* const blankLine = "                                                                   ";  // 67
    gf.setColor(72);
    gf.gotoxy(1, 36);
    gf.printf(" NEPAMIRSTI paleisti 'JULIUS' serveri ir inicializuoti clienta !!! \n");
    gf.printf("%s\n", blankLine);
    gf.printf("  'DEMO' isjungti garsa su roboto atsakymu spausti 'd' klavisa     \n");
    gf.printf("%s\n", blankLine);
    gf.printf("     Iseiti is 'DEMO' spausti 'esc' ir + bet koks garsas           \n");
    gf.printf("%s\n\n", blankLine);
}

// Any value up to 1 is a connection that failed (1 from a refused connect, -1
// when no socket could be made); waiting on it would only spin.
bool recogniserConnected() { return prisijungimas > 1; }

}  // namespace

int Pradzia() {
    if (!recogniserConnected()) return -1;
    showGreetingHelp();
    startListening();
    static char* demo_zodis = nullptr;
    for (;;) {
        demo_zodis = readWord(58);
        if (wordIs(demo_zodis, "SVEIKAS") || keyPressed == kKeyEsc) break;
        turnHandledIntoIdle(demo_zodis);
        takeWaitingKey();
    }
    handledReply(demo_zodis, "eSpeak.exe -v lv+m4  la'ba'sz", 2000);
    stopListening();
    return 1;
}

int DialogasRobRezimas() {
    if (!recogniserConnected()) return 0;
    platform::sleepMs(1000);
    platform::WinExec("eSpeak.exe -v lv+m4 kaaa......daa`ryi`tiii", kSpeechHidden);
    showWorkModeChoices();
    platform::sleepMs(2000);
    startListening();
    static char* demo_zodis = nullptr;
    for (;;) {
        demo_zodis = readWord(58);
        if (const SpokenChoice* choice = chosenWorkMode(demo_zodis)) {
            handledReply(demo_zodis, choice->reply, choice->speechMs);
            stopListening();
            return choice->robotMode;
        }
        takeWaitingKey();
    }
}

void KalboaAtpazinimas_demo() {
    showDemoWords();
    showDemoHelp();
    startListening(196);
    bool repliesOn = true;
    static char* demo_zodis = nullptr;
    for (;;) {
        demo_zodis = readWord(46);
        if (repliesOn) answerDemoWord(demo_zodis);
        if (!platform::_kbhit()) continue;
        keyPressed = platform::_getch();
        if (keyPressed == kKeyEsc) {
            stopListening();
            return;
        }
        if (keyPressed == kKeyRepliesToggle) repliesOn = !repliesOn;
    }
}

char* zodzio_reiksme() {
    komanda_resume_recog(prisijungimas);
    command_loop(prisijungimas, 1);
    char* word = do_output(prisijungimas);
    naujasZodis = word;
    senasZodis = word;
    komanda_pause_recog(prisijungimas);
    gf.gotoxy(4, 38);
    gf.printf(" Atpazintas zodis:   %s \n", word);
    return word;
}
