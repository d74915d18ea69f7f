#include "faces/eigenfaces.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "faces/camera/imageutil.h"
#include "faces/storage_reader.h"
#include "platform/datafiles.h"
#include "shell/console/f_graph.h"
#include "shell/console/program_end.h"

std::vector<cv::Mat> faceImgArr;
cv::Mat personNumTruthMat;
std::vector<std::string> personNames;
int nPersons = 0;
int nTrainFaces = 0;
int nEigens = 0;
cv::Mat pAvgTrainImg;
std::vector<cv::Mat> eigenVectArr;
cv::Mat eigenValMat;
cv::Mat projectedTrainFaceMat;

const char* veidasCascadeFilename = "haarcascade_frontalface_alt.xml";
const char* veidasPrCascadeFilename = "haarcascade_profileface.xml";
int SAVE_EIGENFACE_IMAGES = 1;
int faceWidth = 120, faceHeight = 90;
int recsize = 256, recsize1 = 1024;

int noofegineface = 0;
int nooftraingimage = 0;
float confi = 0.0f;
int accuracy = 0;
float detectiontime = 0.0f;

namespace {

const char* const kDatabaseFile = "facedata.xml";
constexpr int kMaxPersonNumber = 100000;  // a guard against a typo making a huge name table

// ---- list files ----------------------------------------------------------

struct ListEntry {
    int person = 0;
    std::string name;
    std::string picture;
};

bool isPersonNumber(const std::string& word) {
    if (word.empty() || word.size() > 6) return false;
    return std::all_of(word.begin(), word.end(), [](unsigned char c) { return std::isdigit(c); });
}

// "number name picture": the number 1..kMaxPersonNumber, the two words without blanks.
bool parseListLine(const std::string& line, ListEntry& entry) {
    std::istringstream words(line);
    std::string number;
    if (!(words >> number >> entry.name >> entry.picture)) return false;
    if (!isPersonNumber(number)) return false;
    entry.person = std::stoi(number);
    return entry.person >= 1 && entry.person <= kMaxPersonNumber;
}

// A person's name comes from the entry that first raised the count; numbers
// skipped over take the same name, and later entries never rename anyone.
void notePerson(const ListEntry& entry) {
    if (entry.person <= nPersons) return;
    personNames.resize(static_cast<std::size_t>(entry.person), entry.name);
    nPersons = entry.person;
}

// ---- database file -------------------------------------------------------

// A count stored as an int; -1 (which every check refuses) when it is missing
// or anything else.
int readCount(const storage::Node* node) {
    return node && node->kind == storage::NodeKind::Int ? node->integer : -1;
}

// A one-channel float picture in the classic image record, field by field, so that
// databases of the robot's earlier versions load and ours load there.
void writeFloatImage(cv::FileStorage& fs, const std::string& key, const cv::Mat& image) {
    cv::Mat data = image.isContinuous() ? image : image.clone();
    fs.startWriteStruct(key, cv::FileNode::MAP, "opencv-image");
    fs << "width" << data.cols << "height" << data.rows;
    fs << "origin" << "top-left" << "layout" << "interleaved" << "dt" << "f";
    fs.startWriteStruct("data", cv::FileNode::SEQ | cv::FileNode::FLOW);
    fs.writeRaw("f", data.ptr(), data.total() * sizeof(float));
    fs.endWriteStruct();
    fs.endWriteStruct();
}

bool allFinite(const cv::Mat& matrix) { return cv::checkRange(matrix); }

// A one-channel matrix record in the given type; empty when the entry is
// missing, of another kind, or holds values that are not finite numbers.
cv::Mat readMatrix(const storage::Node* node, int type) {
    if (!node || node->kind != storage::NodeKind::Matrix || node->matrix.channels() != 1) return cv::Mat();
    cv::Mat matrix;
    node->matrix.convertTo(matrix, type);
    return allFinite(matrix) ? matrix : cv::Mat();
}

// A picture record (already turned top row first by the reader); a matrix
// record serves as well.
cv::Mat readFloatImage(const storage::Node* node) {
    if (node && node->kind == storage::NodeKind::Matrix) return readMatrix(node, CV_32F);
    if (!node || node->kind != storage::NodeKind::Image) return cv::Mat();
    return allFinite(node->matrix) ? node->matrix : cv::Mat();
}

// Everything facedata.xml holds, read into locals first so that a damaged file
// leaves no half-loaded database behind.
struct Database {
    int persons = 0;
    std::vector<std::string> names;
    int eigens = 0;
    int trainFaces = 0;
    cv::Mat personNumbers, eigenValues, projections, average;
    std::vector<cv::Mat> eigenVectors;
};

// Empty when the database holds together, else what is wrong with it.
std::string checkDatabase(const Database& db) {
    // One training picture gives no eigenfaces: such a database still loads; it
    // only cannot recognise anyone, and the face modes go on following faces.
    if (db.eigens < 0 || db.trainFaces < 1 || db.eigens > db.trainFaces) return "nEigens arba nTrainFaces";
    if (db.eigenVectors.size() != static_cast<std::size_t>(db.eigens)) return "eigenVect";
    if (db.personNumbers.rows != 1 || db.personNumbers.cols != db.trainFaces) return "trainPersonNumMat";
    for (int i = 0; i < db.trainFaces; ++i) {
        const int person = db.personNumbers.at<int>(0, i);
        if (person < 1 || person > db.persons) return "trainPersonNumMat";
    }
    if (db.eigenValues.total() != static_cast<std::size_t>(db.eigens)) return "eigenValMat";
    const bool projectionsFit = db.eigens == 0 ? db.projections.empty()
                                               : db.projections.rows == db.trainFaces && db.projections.cols == db.eigens;
    if (!projectionsFit) return "projectedTrainFaceMat";
    if (db.average.empty()) return "avgTrainImg";
    for (int j = 0; j < db.eigens; ++j) {
        if (db.eigenVectors[static_cast<std::size_t>(j)].size() != db.average.size()) return cv::format("eigenVect_%d", j);
    }
    return {};
}

void readDatabase(const storage::Document& file, Database& db) {
    for (int k = 1; k <= db.persons; ++k) {
        const storage::Node* name = file.find(cv::format("personName_%d", k));
        db.names.push_back(name && name->kind == storage::NodeKind::String ? name->text : std::string());
    }
    db.eigens = readCount(file.find("nEigens"));
    db.trainFaces = readCount(file.find("nTrainFaces"));
    db.personNumbers = readMatrix(file.find("trainPersonNumMat"), CV_32S);
    db.eigenValues = readMatrix(file.find("eigenValMat"), CV_32F);
    db.projections = readMatrix(file.find("projectedTrainFaceMat"), CV_32F);
    db.average = readFloatImage(file.find("avgTrainImg"));
    for (int j = 0; j < db.eigens; ++j) {
        const storage::Node* node = file.find(cv::format("eigenVect_%d", j));
        if (!node) break;  // fewer stored than announced: the check reports it
        db.eigenVectors.push_back(readFloatImage(node));
    }
}

void forgetDatabase() {
    faceImgArr.clear();
    personNumTruthMat.release();
    pAvgTrainImg.release();
    eigenVectArr.clear();
    eigenValMat.release();
    projectedTrainFaceMat.release();
    personNames.clear();
    nPersons = 0;
    nTrainFaces = 0;
    nEigens = 0;
}

void showDatabaseFault(const DatabaseFault& fault) {
    gf.footerLine(fault.footer.c_str());
    if (!fault.detail.empty()) gf.printf(" %s", fault.detail.c_str());
}

double squaredDistance(const float* a, const float* b, int count) {
    double sum = 0.0;
    for (int e = 0; e < count; ++e) {
        const double d = static_cast<double>(a[e]) - static_cast<double>(b[e]);
        sum += d * d;
    }
    return sum;
}

}  // namespace

int loadFaceImgArray(const std::string& filename) {
    std::string text;
    if (!platform::readWholeFile(filename, text)) {
        std::fprintf(stderr, "Negaliu atidaryti failo %s\n", filename.c_str());
        return 0;
    }
    faceImgArr.clear();
    personNames.clear();
    nPersons = 0;
    std::vector<int> personNumbers;

    std::istringstream list(text);
    std::string line;
    for (int lineNumber = 1; std::getline(list, line); ++lineNumber) {
        ListEntry entry;
        if (!parseListLine(line, entry)) {
            std::fprintf(stderr, "Bloga eilute %d faile %s praleista\n", lineNumber, filename.c_str());
            continue;
        }
        notePerson(entry);
        cv::Mat picture = cv::imread(entry.picture, cv::IMREAD_GRAYSCALE);
        if (picture.empty()) {
            std::fprintf(stderr, "Negaliu atidaryti paveikslelio %s\n", entry.picture.c_str());
            return 0;
        }
        if (!faceImgArr.empty() && picture.size() != faceImgArr.front().size()) {
            std::fprintf(stderr, "Paveikslelio %s dydis %dx%d, o ne %dx%d\n", entry.picture.c_str(), picture.cols,
                         picture.rows, faceImgArr.front().cols, faceImgArr.front().rows);
            return 0;
        }
        faceImgArr.push_back(picture);
        personNumbers.push_back(entry.person);
    }
    personNumTruthMat.release();
    if (!personNumbers.empty()) personNumTruthMat = cv::Mat(personNumbers, true).reshape(1, 1);
    return static_cast<int>(faceImgArr.size());
}

void doPCA() {
    const int count = static_cast<int>(faceImgArr.size());
    nEigens = count - 1;
    if (count < 2) return;
    const cv::Size faceSize = faceImgArr.front().size();
    const int pixels = faceSize.area();

    // Snapshot method: the eigenvectors of the small count x count inner-product
    // matrix of the mean-free pictures lead to those of the big covariance matrix.
    cv::Mat data(count, pixels, CV_64F);
    for (int i = 0; i < count; ++i) {
        const cv::Mat& picture = faceImgArr[static_cast<std::size_t>(i)];
        (picture.isContinuous() ? picture : picture.clone()).reshape(1, 1).convertTo(data.row(i), CV_64F);
    }
    cv::Mat mean;
    cv::reduce(data, mean, 0, cv::REDUCE_AVG, CV_64F);
    for (int i = 0; i < count; ++i) cv::subtract(data.row(i), mean, data.row(i));

    cv::Mat gram, values, vectors;
    cv::mulTransposed(data, gram, false);
    cv::eigen(gram, values, vectors);  // descending eigenvalues, eigenvectors as rows

    cv::Mat faces = vectors.rowRange(0, nEigens) * data;
    eigenVectArr.assign(static_cast<std::size_t>(nEigens), cv::Mat());
    for (int k = 0; k < nEigens; ++k) {
        cv::Mat face = faces.row(k);
        const double length = cv::norm(face);
        if (length > 0.0) face /= length;
        face.reshape(1, faceSize.height).convertTo(eigenVectArr[static_cast<std::size_t>(k)], CV_32F);
    }
    mean.reshape(1, faceSize.height).convertTo(pAvgTrainImg, CV_32F);
    values.rowRange(0, nEigens).reshape(1, 1).convertTo(eigenValMat, CV_32F);
    cv::normalize(eigenValMat, eigenValMat, 1.0, 0.0, cv::NORM_L1);
}

void trainOnFaceImgArr() {
    nTrainFaces = static_cast<int>(faceImgArr.size());
    doPCA();
    projectedTrainFaceMat.create(nTrainFaces, nEigens, CV_32F);
    for (int i = 0; i < nTrainFaces; ++i) {
        eigenDecomposite(faceImgArr[static_cast<std::size_t>(i)], nEigens, eigenVectArr, pAvgTrainImg,
                         projectedTrainFaceMat.ptr<float>(i));
    }
}

int learn(const std::string& filename) {
    gf.footerLine("Treniravimo paveiksl. ivedimas.");
    gf.printf("'%s'", filename.c_str());
    nTrainFaces = loadFaceImgArray(filename);
    gf.footerLine("Got ");
    gf.printf("%d", nTrainFaces);
    gf.printf(" Treniruojami paveiksl..");
    nooftraingimage = nTrainFaces;
    if (nTrainFaces < 2) {
        std::fprintf(stderr, "Reikalingi 2 ar daugiau veidu DB\nIvedamas failas sudaro %d\n", nTrainFaces);
        return 0;
    }
    trainOnFaceImgArr();
    if (!storeTrainingData()) return 0;
    if (SAVE_EIGENFACE_IMAGES) storeEigenfaceImages();
    return 1;
}

int storeTrainingData() {
    // The database is made in memory and written with every write checked: a
    // disk that refuses part of it must never leave a half database behind.
    cv::FileStorage fs(kDatabaseFile, cv::FileStorage::WRITE | cv::FileStorage::MEMORY | cv::FileStorage::FORMAT_XML);
    if (!fs.isOpened()) {
        gf.footerLine("KLAIDA: negaliu rasyti DB failo 'facedata.xml'.");
        return 0;
    }
    fs << "nPersons" << nPersons;
    for (int k = 1; k <= nPersons; ++k) {
        fs << cv::format("personName_%d", k) << personNames[static_cast<std::size_t>(k - 1)];
    }
    fs << "nEigens" << nEigens << "nTrainFaces" << nTrainFaces;
    fs << "trainPersonNumMat" << personNumTruthMat;
    fs << "eigenValMat" << eigenValMat;
    fs << "projectedTrainFaceMat" << projectedTrainFaceMat;
    writeFloatImage(fs, "avgTrainImg", pAvgTrainImg);
    for (int j = 0; j < nEigens; ++j) {
        writeFloatImage(fs, cv::format("eigenVect_%d", j), eigenVectArr[static_cast<std::size_t>(j)]);
    }
    if (!platform::replaceFileWhole(kDatabaseFile, fs.releaseAndGetString())) {
        gf.footerLine("KLAIDA: negaliu rasyti DB failo 'facedata.xml'.");
        return 0;
    }
    return 1;
}

DatabaseFault readTrainingData(cv::Mat& trainPersonNumMat) {
    // The robot's own strict reader: OpenCV's XML reader can crash on a damaged
    // file. Its reason (line and fault, in English) stays off the console.
    storage::Document file;
    std::string reason;
    const storage::ReadStatus status = storage::readDocument(kDatabaseFile, file, reason);
    if (status == storage::ReadStatus::Unreadable) return {"Negaliu atidaryti DB failo 'facedata.xml'.", ""};
    const storage::Node* persons = file.find("nPersons");
    if (status == storage::ReadStatus::Damaged || (persons && persons->kind != storage::NodeKind::Int)) {
        return {"KLAIDA: sugadintas DB failas 'facedata.xml'.", ""};
    }
    Database db;
    db.persons = persons ? persons->integer : 0;
    if (db.persons <= 0) {
        personNames.clear();
        nPersons = 0;
        return {"Nera uzregistruotu DB 'facedata.xml'.", ""};
    }
    db.persons = std::min(db.persons, kMaxPersonNumber);
    std::string fault;
    try {
        readDatabase(file, db);
        fault = checkDatabase(db);
    } catch (const std::exception&) {
        fault = "skaitymo klaida";
    }
    if (!fault.empty()) return {"KLAIDA: sugadintas DB failas 'facedata.xml':", fault};
    nPersons = db.persons;
    personNames = db.names;
    nEigens = db.eigens;
    nTrainFaces = db.trainFaces;
    trainPersonNumMat = db.personNumbers;
    eigenValMat = db.eigenValues.empty() ? cv::Mat(1, 0, CV_32F) : db.eigenValues.reshape(1, 1);
    projectedTrainFaceMat = db.projections;
    pAvgTrainImg = db.average;
    eigenVectArr = db.eigenVectors;
    return {};
}

int loadTrainingData(cv::Mat& trainPersonNumMat) {
    const DatabaseFault fault = readTrainingData(trainPersonNumMat);
    if (fault.footer.empty()) return 1;
    showDatabaseFault(fault);
    return 0;
}

void eigenDecomposite(const cv::Mat& picture, int nEigs, const std::vector<cv::Mat>& eigenVectors,
                      const cv::Mat& avg, float* coeffs) {
    cv::Mat difference;
    picture.convertTo(difference, CV_32F);
    difference -= avg;
    for (int k = 0; k < nEigs; ++k) {
        coeffs[k] = static_cast<float>(difference.dot(eigenVectors[static_cast<std::size_t>(k)]));
    }
}

bool projectFace(const cv::Mat& picture, float* projection) {
    if (nEigens <= 0 || picture.size() != pAvgTrainImg.size() || picture.channels() != 1) return false;
    eigenDecomposite(picture, nEigens, eigenVectArr, pAvgTrainImg, projection);
    return true;
}

int findNearestNeighbor(const float* projectedTestFace, float* pConfidence) {
    if (nTrainFaces <= 0 || nEigens <= 0 || projectedTrainFaceMat.rows < nTrainFaces ||
        projectedTrainFaceMat.cols < nEigens) {
        *pConfidence = 0.0f;
        return -1;
    }
    double least = std::numeric_limits<double>::max();
    int nearest = 0;
    for (int i = 0; i < nTrainFaces; ++i) {
        const double distance = squaredDistance(projectedTestFace, projectedTrainFaceMat.ptr<float>(i), nEigens);
        if (distance < least) {
            least = distance;
            nearest = i;
        }
    }
    *pConfidence = static_cast<float>(1.0 - std::sqrt(least / (nTrainFaces * static_cast<double>(nEigens))) / 255.0);
    return nearest;
}

void storeEigenfaceImages() {
    gf.footerLine("Saving the image of the average face as 'out_averageImage.bmp'.");
    cv::Mat average;
    pAvgTrainImg.convertTo(average, CV_8U);
    if (!average.empty()) cv::imwrite("out_averageImage.bmp", average);

    gf.footerLine("Saving the ");
    gf.printf("%d", nEigens);
    gf.printf(" eigenvector images as 'out_eigenfaces.bmp'");
    noofegineface = nEigens;
    if (nEigens <= 0 || eigenVectArr.empty()) return;

    constexpr int kColumns = 8;
    const int w = eigenVectArr.front().cols;
    const int h = eigenVectArr.front().rows;
    cv::Mat canvas = cv::Mat::zeros((nEigens / kColumns + 1) * h, std::min(nEigens, kColumns) * w, CV_8U);
    for (int i = 0; i < nEigens && i < static_cast<int>(eigenVectArr.size()); ++i) {
        const cv::Mat cell = convertFloatImageToUcharImage(eigenVectArr[static_cast<std::size_t>(i)]);
        if (cell.size() != cv::Size(w, h)) continue;
        cell.copyTo(canvas(cv::Rect((i % kColumns) * w, (i / kColumns) * h, w, h)));
    }
    cv::imwrite("out_eigenfaces.bmp", canvas);
}

cv::Mat retrainOnline() {
    forgetDatabase();
    gf.showRightSide("Retraining with the new person ......", false);
    learn("train.txt");
    gf.showRightSide("Done retraining.....", false);
    cv::Mat trainPersonNumMat;
    if (!loadTrainingData(trainPersonNumMat)) {
        gf.footerLine("KLAIDA ivedimasiscam(): Negaliu ivesti treniravimo duomenu!");
        throw ProgramEnd{1};
    }
    return trainPersonNumMat;
}

namespace {

std::string testedLine(const FaceListReport& report) { return cv::format("%d Ivestu veidu testas", report.listed); }

std::string answerLine(const FaceTestAnswer& a) {
    return cv::format("Apytiksliai = %d, Truth = %d (%s). Panasumas = %f", a.answer, a.truth,
                      a.answer == a.truth ? "Correct" : "WRONG!", a.confidence);
}

std::string accuracyLine(const FaceListReport& report) {
    return cv::format("TOTAL ACCURACY: %d%% out of %zu tests.", report.accuracy, report.answers.size());
}

std::string timeLine(const FaceListReport& report) {
    return cv::format("TOTAL TIME: %.1fms average.", report.averageMs);
}

}  // namespace

FaceListReport testFileList(const std::string& filename) {
    FaceListReport report;
    report.listed = loadFaceImgArray(filename);
    const cv::Mat truth = personNumTruthMat;
    cv::Mat trainPersonNumMat;
    report.databaseFault = readTrainingData(trainPersonNumMat);
    if (!report.databaseFault.footer.empty()) return report;

    std::vector<float> projection(static_cast<std::size_t>(nEigens));
    int correct = 0;
    const int64 start = cv::getTickCount();
    for (int i = 0; i < report.listed; ++i) {
        if (!projectFace(faceImgArr[static_cast<std::size_t>(i)], projection.data())) {
            report.pictureFault =
                cv::format("Paveikslelio dydis nesutampa su DB veidu dydziu %dx%d", pAvgTrainImg.cols, pAvgTrainImg.rows);
            return report;
        }
        FaceTestAnswer answer;
        const int nearest = findNearestNeighbor(projection.data(), &answer.confidence);
        answer.answer = trainPersonNumMat.at<int>(0, nearest);
        answer.truth = truth.at<int>(0, i);
        correct += answer.answer == answer.truth ? 1 : 0;
        report.answers.push_back(answer);
        confi = answer.confidence;
    }
    const int64 end = cv::getTickCount();
    const int tested = static_cast<int>(report.answers.size());
    if (tested == 0) return report;
    accuracy = report.accuracy = correct * 100 / tested;
    detectiontime = report.averageMs =
        static_cast<float>(static_cast<double>(end - start) * 1000.0 / (cv::getTickFrequency() * tested));
    return report;
}

std::vector<std::string> faceListReportLines(const FaceListReport& report) {
    std::vector<std::string> lines{testedLine(report)};
    for (const FaceTestAnswer& answer : report.answers) lines.push_back(answerLine(answer));
    if (report.accuracy >= 0) {
        lines.push_back(accuracyLine(report));
        lines.push_back(timeLine(report));
    }
    return lines;
}

std::string faultLine(const DatabaseFault& fault) {
    return fault.detail.empty() ? fault.footer : fault.footer + " " + fault.detail;
}

void recognizeFileList(const std::string& filename) {
    const FaceListReport report = testFileList(filename);
    gf.footerLine("");
    gf.printf("%s", testedLine(report).c_str());
    if (!report.databaseFault.footer.empty()) return showDatabaseFault(report.databaseFault);
    for (const FaceTestAnswer& answer : report.answers) gf.printf("%s\n", answerLine(answer).c_str());
    if (!report.pictureFault.empty()) gf.printf("%s\n", report.pictureFault.c_str());
    if (report.accuracy < 0) return;
    gf.footerLine(accuracyLine(report).c_str());
    // The row under the accuracy, inside the footer box: both stay readable.
    gf.printAt(8, 37, "%s", timeLine(report).c_str());
}
