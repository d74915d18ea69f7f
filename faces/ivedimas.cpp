#include "faces/ivedimas.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "faces/camera/camera.h"
#include "faces/eigenfaces.h"
#include "faces/camera/imageutil.h"
#include "platform/clock.h"
#include "platform/datafiles.h"
#include "platform/devices.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "shell/console/program_end.h"

namespace {

// The registration records: one 256-byte ID record in FaceRec/allinone.TXT per
// registration, and four 256-byte fields (ID, name, code, password) in the user file.
std::array<char, 256> emp;
std::array<char, 1024> nu;

constexpr int kEsc = 27;
constexpr std::size_t kMaxAnswerLength = 64;
constexpr std::size_t kPasswordKeys = 8;
constexpr int kPasswordRounds = 3;
constexpr std::size_t kFieldSize = 256;
const char* const kWindow = "Ivedimas";
const char* const kIdFile = "FaceRec/allinone.TXT";

struct Enrolment {
    std::string id;
    std::string fullName;  // ID_name: the person's name in the face database
    int pictures = 0;
    bool capturing = false;
    cv::Mat trainPersonNumMat;
    std::vector<float> projection;
    cv::CascadeClassifier cascade;
};

void showInstructions() {
    static const char* const lines[] = {
        "    IVESTI NAUJA FIZIONOMIJA:",
        "",
        " - patvirtinti (Taip=[1] arba Ne=[0])",
        " - paskui spausti - [Enter]",
        " - palaukti pakol uszikraus kamera",
        " - pele aktyvuoti pagrindini meniu",
        "",
        "    PRADETI IVEDIMA: spausti -[N] ",
        "",
        " Prades ivedineti etaloninius pav.",
        " Ivedus ~50 pav. stabdyti ivedima -[T]",
        "",
        "     NEPAMIRSKITE !!!",
        "",
        " pele aktyvuoti reikiamus langus o",
        " paskui tik isrinkti reikiama lango rezima",
    };
    bool first = true;
    for (const char* line : lines) {
        gf.showRightSide(line, first);
        first = false;
    }
}

bool instructionsConfirmed() {
    gf.footerLine(" Perskaitete ?, patvirtinkite (Taip=[1]/Ne=[0])");
    std::string answer;
    platform::readLine(answer);
    char* end = nullptr;
    const long value = std::strtol(answer.c_str(), &end, 10);
    const bool confirmed = end != answer.c_str() && value == 1;
    gf.footerLine("     Palaukti !!!!");
    gf.footerLine("Nauja fizionomija spausti -[N]");
    return confirmed;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// One typed word that is safe in a file name; false when input has ended.
bool readAnswer(const char* prompt, std::string& answer) {
    for (;;) {
        gf.footerLine(prompt);
        std::string line;
        if (!platform::readLine(line)) return false;
        answer = trimmed(line);
        if (isSafeAnswer(answer)) return true;
        gf.warning("Tik raides, skaitmenys, - ir _ (iki 64 simb.)");
    }
}

// Without the ID records no registration can be checked or kept: the program ends
// as a failure, the message on the message row where the operator reads it.
[[noreturn]] void endWithoutIdFile() {
    gf.printAt(7, 40, "Negaliu atidaryti failo");
    platform::sleepMs(2000);
    throw ProgramEnd{1};
}

// The content of allinone.TXT, creating the file when it is missing.
std::string idRecords() {
    std::string records;
    if (platform::readWholeFile(kIdFile, records)) return records;
    // Only a missing file is created: one that is there but cannot be read (a
    // folder by that name) is never emptied.
    if (errno != ENOENT || !platform::writeWholeFile(kIdFile, "")) endWithoutIdFile();
    return records;
}

bool askId(std::string& id) {
    for (;;) {
        if (!readAnswer("ID numeris : ", id)) return false;
        if (!isRegisteredId(idRecords(), id)) break;
        gf.warning("Veido Id jau yra");
        gf.showRightSide("Veido Id jau registruota", true);
        gf.warning("Pakartoti  !!!!!");
    }
    gf.showRightSide("Veido ID:", false);
    gf.printf("%s", id.c_str());
    return true;
}

bool askField(const char* prompt, const char* label, std::string& answer) {
    if (!readAnswer(prompt, answer)) return false;
    gf.showRightSide(label, false);
    gf.printf("%s", answer.c_str());
    return true;
}

bool isEnter(int key) { return key == '\r' || key == '\n'; }

// Eight keys of any kind, shown as stars; further keys up to Enter are dropped.
bool readPasswordKeys(std::string& password) {
    password.clear();
    while (password.size() < kPasswordKeys) {
        const int key = platform::_getch();
        if (key == platform::kEndOfInput) return false;
        password.push_back(static_cast<char>(key));
        gf.printf("*");
    }
    for (;;) {
        const int key = platform::_getch();
        if (key == platform::kEndOfInput) return false;
        if (isEnter(key)) return true;
    }
}

bool askPassword(std::string& password) {
    for (int round = 1; round <= kPasswordRounds; ++round) {
        std::string first, second;
        gf.footerLine("Slaptazodis [ 8 skaiciai] : ");
        if (!readPasswordKeys(first)) return false;
        gf.footerLine("Slaptazodi pakartoti [ 8 skaiciai] ");
        if (!readPasswordKeys(second)) return false;
        password = first;
        if (first == second) {
            gf.showRightSide("Slaptazodis:", false);
            gf.printf("**********");
            gf.showRightSide("", false);
            gf.showRightSide("Patvirtinti slaptazodi:", false);
            gf.printf("**********");
            gf.showRightSide("", false);
            return true;
        }
        gf.warning("Slaptazodis blogas?????");
        platform::sleepMs(1000);
        gf.warning(" Pakartoti slaptazodzio ivedima");
    }
    gf.warning("Sitos informacijos galiojimas!!!!");
    return true;
}

void putField(char* field, const std::string& text) {
    std::memset(field, 0, kFieldSize);
    std::memcpy(field, text.data(), std::min(text.size(), kFieldSize - 1));
}

void saveRecords(const std::string& id, const std::string& name, const std::string& code,
                 const std::string& password) {
    const std::string userFile = "NewUserFolder/" + id + ".TXT";
    // Created before the question, so that a refusal is told before the operator answers.
    const bool userFileOpens = platform::appendToFile(userFile, "");
    if (!userFileOpens) gf.printf("Negaliu atidaryti failo");

    gf.footerLine("Issaugoti informacija? (y/n):");
    const int answer = platform::_getche();
    if ((answer == 'y' || answer == 'Y') && userFileOpens) {
        const std::string fields[] = {id, name, code, password};
        for (std::size_t k = 0; k < 4; ++k) putField(nu.data() + k * kFieldSize, fields[k]);
        platform::appendToFile(userFile, std::string(nu.data(), nu.size()));
    }

    std::uintmax_t size = 0;  // a missing file starts empty
    platform::plainFileSize(kIdFile, size);
    platform::appendToFile(kIdFile, idRecordToAppend(static_cast<std::size_t>(size), id));
}

// Key n: who the new person is; afterwards every detected face is captured.
bool registerPerson(Enrolment& enrolment) {
    gf.showRightSide("              Naujas", true);
    gf.showRightSide("=========================================", false);
    std::string id, name, code, password;
    if (!askId(id)) return false;
    if (!askField("Veido vardas : ", "Veido vardas :", name)) return false;
    if (!askField("Veido kodas : ", "Veido kodas :", code)) return false;
    if (!askPassword(password)) return false;
    saveRecords(id, name, code, password);

    enrolment.id = id;
    enrolment.fullName = id + "_" + name;
    gf.showRightSide("Spausti [T]  ......", false);
    gf.showRightSide("Spausti [T]  ... ...", false);
    enrolment.pictures = 0;
    enrolment.capturing = true;
    return true;
}

std::string pictureName(const Enrolment& enrolment, int number) {
    return cv::format("data/%d_%s%d.pgm", nPersons + 1, enrolment.fullName.c_str(), number);
}

// Key t: the captured pictures join train.txt and the database learns them.
void saveAndRetrain(Enrolment& enrolment) {
    gf.footerLine("Issaugoma nauja informacija");
    gf.printf(" '%s'", enrolment.fullName.c_str());
    // The list is replaced whole: a disk that refuses part of it leaves the old list.
    std::string list;
    platform::readWholeFile("train.txt", list);  // none yet: the list starts with these pictures
    if (!list.empty() && list.back() != '\n') list += '\n';
    for (int i = 1; i <= enrolment.pictures; ++i) {
        list += cv::format("%d %s %s\n", nPersons + 1, enrolment.fullName.c_str(), pictureName(enrolment, i).c_str());
    }
    if (!platform::replaceFileWhole("train.txt", list)) gf.printf("Negaliu atidaryti failo train.txt");
    const int personsBefore = nPersons;
    enrolment.trainPersonNumMat = retrainOnline();
    enrolment.projection.assign(static_cast<std::size_t>(std::max(nEigens, 0)), 0.0f);

    // A database the disk refused keeps the persons it had: say so, not "stored".
    if (enrolment.capturing && nPersons <= personsBefore) {
        gf.showRightSide(" KLAIDA: veidas neissaugotas DB !", false);
        gf.showRightSide("", false);
        gf.footerLine("KLAIDA: veidas neissaugotas DB 'facedata.xml'.");
    } else {
        gf.showRightSide(" Jusu veidas patalpintas i DB !", false);
        gf.showRightSide("", false);
        gf.footerLine("      Jusu veidas patalpintas i DB ! ! ");
    }
    gf.showRightSide("", false);
    gf.showRightSide("Iseiti - 'Esc'", false);
    gf.warning("Iseiti - 'Esc'");
    enrolment.pictures = 0;
    enrolment.capturing = false;
}

// Shows who the database thinks the face is, so the operator sees how it learns.
void showNearestPerson(Enrolment& enrolment, const cv::Mat& face) {
    if (nEigens <= 0 || enrolment.projection.size() != static_cast<std::size_t>(nEigens)) return;
    if (!projectFace(face, enrolment.projection.data())) return;
    float confidence = 0.0f;
    const int nearest = findNearestNeighbor(enrolment.projection.data(), &confidence);
    if (nearest < 0 || nearest >= static_cast<int>(enrolment.trainPersonNumMat.total())) return;
    const int person = enrolment.trainPersonNumMat.at<int>(0, nearest);
    const std::string name = person >= 1 && person <= static_cast<int>(personNames.size())
                                 ? personNames[static_cast<std::size_t>(person - 1)]
                                 : std::string("?");
    gf.footerLine("Veidas :");
    gf.printf(" '%s'  panasumas=%f", name.c_str(), confidence);
}

// A picture the disk refused in part is not kept: train.txt lists only whole ones.
void captureFace(Enrolment& enrolment, const cv::Mat& face) {
    const std::string file = pictureName(enrolment, enrolment.pictures + 1);
    gf.footerLine("Issaugoju pav.");
    gf.printf(" '%s' i DB '%s'", enrolment.fullName.c_str(), file.c_str());
    std::vector<uchar> bytes;
    if (!cv::imencode(".pgm", face, bytes) ||
        !platform::replaceFileWhole(file, std::string(bytes.begin(), bytes.end()))) {
        gf.printf(" KLAIDA: negaliu rasyti");
        return;
    }
    ++enrolment.pictures;
}

// One frame: find the face, name it, capture it, and show the frame with its box.
cv::Mat processFrame(Enrolment& enrolment, const cv::Mat& frame) {
    cv::Mat grey = convertImageToGreyscale(frame);
    if (grey.channels() != 1) cv::cvtColor(grey, grey, cv::COLOR_BGRA2GRAY);
    const cv::Rect face = detectFaceInImage(grey, enrolment.cascade);
    cv::Mat shown = frame.clone();
    if (!faceFound(face)) return shown;

    const cv::Mat cropped = cropImage(grey, face);
    if (cropped.empty()) return shown;
    const cv::Mat sized = resizeImage(cropped, faceWidth, faceHeight);
    cv::Mat equalised;
    cv::equalizeHist(sized, equalised);
    if (equalised.empty()) {
        gf.showRightSide("KLAIDA ivedimasiscam(): Neturiu pavyzdzio paveikslelio!", false);
        throw ProgramEnd{1};
    }
    showNearestPerson(enrolment, equalised);
    if (enrolment.capturing) captureFace(enrolment, equalised);
    cv::rectangle(shown, cv::Point(face.x, face.y), cv::Point(face.x + face.width - 1, face.y + face.height - 1),
                  cv::Scalar(0, 255, 0), 1, cv::LINE_8);
    return shown;
}

// A key from the camera window or from the console, whichever has one. Without
// a display the window wait reads the terminal itself, so its key is the
// console's key too and must be acted on, not dropped.
int nextEnrolmentKey() {
    constexpr int kNoKey = -2;  // kEndOfInput (-1) ends enrolment
    const int windowKey = ui::waitKey(10);
    if (windowKey >= 0) return windowKey & 0xFF;
    return platform::_kbhit() ? platform::_getch() : kNoKey;
}

void setUp(Enrolment& enrolment) {
    gf.showRightSide("Laukiame kameros .....", true);
    if (loadTrainingData(enrolment.trainPersonNumMat)) {
        faceWidth = pAvgTrainImg.cols;
        faceHeight = pAvgTrainImg.rows;
    }
    enrolment.projection.assign(static_cast<std::size_t>(std::max(nEigens, 0)), 0.0f);
    ui::namedWindow(kWindow);
    platform::makeDirectory("data");
    platform::makeDirectory("FaceRec");
    platform::makeDirectory("NewUserFolder");
    if (!enrolment.cascade.load(platform::findDataFile(veidasCascadeFilename))) {
        gf.showRightSide("KLAIDA : Negaliu ivesti veido Haar cascade duom. klasifikatoriaus:", false);
        gf.printf(" '%s'", veidasCascadeFilename);
        platform::sleepMs(2000);
        throw ProgramEnd{1};
    }
}

}  // namespace

std::vector<std::string> registeredIdsIn(const std::string& records) {
    std::vector<std::string> ids;
    for (std::size_t at = 0; at < records.size(); at += kFieldSize) {
        const std::size_t length = std::min(kFieldSize, records.size() - at);
        ids.emplace_back(records.data() + at, strnlen(records.data() + at, length));
    }
    return ids;
}

bool isRegisteredId(const std::string& records, const std::string& id) {
    const std::vector<std::string> ids = registeredIdsIn(records);
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::string idRecordToAppend(std::size_t recordsSize, const std::string& id) {
    const std::size_t padding = (kFieldSize - recordsSize % kFieldSize) % kFieldSize;
    putField(emp.data(), id);
    return std::string(padding, '\0') + std::string(emp.data(), emp.size());
}

bool isSafeAnswer(const std::string& answer) {
    if (answer.empty() || answer.size() > kMaxAnswerLength) return false;
    for (unsigned char c : answer) {
        if (!std::isalnum(c) && c != '-' && c != '_') return false;
    }
    return true;
}

void ivedimasiscam() {
    plotis = 320;
    aukstis = 240;
    showInstructions();
    if (!instructionsConfirmed()) {
        gf.showRightSide("Perskaitykite atidziai instrukcija", true);
        return;
    }
    Enrolment enrolment;
    setUp(enrolment);

    for (;;) {
        const cv::Mat frame = getCameraFrame();
        if (!frame.empty()) ui::show(kWindow, processFrame(enrolment, frame));
        const int key = nextEnrolmentKey();
        if (key == kEsc || key == platform::kEndOfInput) {
            ui::destroyAllWindows();
            break;
        }
        if (key == 'n' && !registerPerson(enrolment)) break;
        if (key == 't') saveAndRetrain(enrolment);
    }
    releaseRightCamera();
}
