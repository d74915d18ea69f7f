// The face database: facedata.xml, the eigenface arithmetic, training lists and the offline tool.

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/face.hpp>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <regex>

#include "faces/eigenfaces.h"
#include "faces/storage_reader.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

namespace {

// facedata.xml: the robot's own reader gives back, bit for bit, what
// cv::FileStorage writes and reads, and refuses damaged files as a whole, leaving
// the loaded database as it was; what a missing or odd database does.
using robotest::readFile;
using facetest::writeText;

std::string repeated(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

bool sameBits(const cv::Mat& a, const cv::Mat& b) {
    if (a.size() != b.size() || a.type() != b.type()) return false;
    if (a.empty()) return true;
    const cv::Mat x = a.isContinuous() ? a : a.clone(), y = b.isContinuous() ? b : b.clone();
    return std::memcmp(x.data, y.data, x.total() * x.elemSize()) == 0;
}

// A picture record as the robot's earlier versions read it: the raw floats.
cv::Mat openCvImage(const cv::FileStorage& fs, const std::string& key) {
    const cv::FileNode node = fs[key];
    cv::Mat image(static_cast<int>(node["height"]), static_cast<int>(node["width"]), CV_32F);
    node["data"].readRaw("f", image.ptr(), image.total() * sizeof(float));
    return image;
}

// A one-value float matrix holding the word, as the writer lays it out.
std::string floatMatrixOf(const std::string& word) {
    return "<?xml version=\"1.0\"?>\n<opencv_storage>\n<m type_id=\"opencv-matrix\">\n  <rows>1</rows>\n"
           "  <cols>1</cols>\n  <dt>f</dt>\n  <data>\n    " + word + "</data></m>\n</opencv_storage>\n";
}

TEST(StorageReader, OnlyTheWritersSpellingsOfNumbersAreReadCommentsAndSpacingAnywhereBottomLeftPictures) {
    storage::Document document;
    for (const char* word : {"1.", "-2.50000000e-01", "7", ".Inf", "-.Inf", ".Nan", "3.40282347e+38"})
        EXPECT_EQ(storage::parseDocument(floatMatrixOf(word), document), "") << word;
    for (const char* word : {"nan", "inf", "-inf", "NaN", ".nan", "+1", "0x10", "0x1p3", "1e", "1..2", "--1", "1,5",
                             "1e999", "3.5e+38", ".", "-", "1f"}) {
        EXPECT_NE(storage::parseDocument(floatMatrixOf(word), document), "") << word;
        EXPECT_EQ(document.size(), 0u) << word;
    }
    // Comments, spacing and pictures stored bottom-left first.
    const std::string xml =
        "\n <?xml version=\"1.0\"?><!-- robotas -->\n<opencv_storage><!-- a <b> -->\n"
        "<n>  7 </n><m type_id=\"opencv-matrix\"> <!-- x --> <rows>1</rows><cols>2</cols>"
        "<dt>i</dt><!----><data>3\n\t-4</data>\n</m>\n<picture type_id=\"opencv-image\">\n  <width>2</width>\n"
        "  <height>3</height>\n  <origin>bottom-left</origin>\n  <layout>interleaved</layout>\n  <dt>f</dt>\n"
        "  <data>\n    1. 2. 3. 4. 5. 6.</data></picture>\n</opencv_storage><!-- end -->\n\n";
    ASSERT_EQ(storage::parseDocument(xml, document), "");
    EXPECT_EQ(document.find("n")->integer, 7);
    EXPECT_TRUE(sameBits(document.find("m")->matrix, (cv::Mat_<int>(1, 2) << 3, -4)));
    EXPECT_TRUE(sameBits(document.find("picture")->matrix, (cv::Mat_<float>(3, 2) << 5, 6, 3, 4, 1, 2)));
    // A file larger than the limit is refused unread.
    robotest::ScopedWorkDir dir;
    writeText("big.xml", "<?xml version=\"1.0\"?>\n<opencv_storage>\n");
    std::filesystem::resize_file("big.xml", storage::kMaxFileBytes + 1);  // sparse: nothing to read
    std::string fault;
    EXPECT_EQ(storage::readDocument("big.xml", document, fault), storage::ReadStatus::Damaged);
    EXPECT_NE(fault.find("larger than"), std::string::npos) << fault;
    EXPECT_EQ(storage::readDocument("missing.xml", document, fault), storage::ReadStatus::Unreadable);
    std::filesystem::create_directory("folder.xml");
    EXPECT_EQ(storage::readDocument("folder.xml", document, fault), storage::ReadStatus::Unreadable);
}

class FaceDatabaseReader : public robotest::RobotTest {
protected:
    // A database of small pictures, quick to load thousands of times.
    void trainSmall() {
        std::string list;
        for (int person = 1; person <= 2; ++person) {
            for (int i = 1; i <= 2; ++i) {
                cv::Mat small;
                cv::resize(facetest::orlPicture(person + 2, i), small, cv::Size(6, 7), 0, 0, cv::INTER_AREA);
                const std::string picture = cv::format("p%d_%d.pgm", person, i);
                cv::imwrite(picture, small);
                list += cv::format("%d s%d %s\n", person, person + 2, picture.c_str());
            }
        }
        writeText("train.txt", list);
        ASSERT_EQ(learn("train.txt"), 1);
        good = readFile("facedata.xml");
        ASSERT_EQ(load(), 1);
    }
    static void train(const std::vector<int>& persons, int firstPicture, int lastPicture) {
        writeText("train.txt", facetest::trainingList(persons, firstPicture, lastPicture));
        ASSERT_EQ(learn("train.txt"), 1);
    }
    static int load() {
        cv::Mat numbers;
        return loadTrainingData(numbers);
    }
    // Loads a damaged file: refused with the message, and the database in memory,
    // stored again, is the good one byte for byte.
    void expectRefused(const std::string& xml, const std::string& what) {
        writeText("facedata.xml", xml);
        EXPECT_EQ(load(), 0) << what;
        EXPECT_NE(row(36).find("KLAIDA: sugadintas DB failas 'facedata.xml'"), std::string::npos) << what;
        ASSERT_EQ(storeTrainingData(), 1);
        EXPECT_EQ(readFile("facedata.xml"), good) << what;
    }
    // Replaces the first `from`, at or after the entry `within` when one is named.
    std::string replaced(std::string xml, const std::string& from, const std::string& to, const std::string& within = "") {
        const auto at = xml.find(from, within.empty() ? 0 : xml.find("<" + within + " "));
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? xml : xml.replace(at, from.size(), to);
    }
    robotest::ScopedWorkDir dir;
    std::string good;
};

// Persons 3, 4 and 5, three pictures each, in the layout earlier versions of the robot read.
TEST_F(FaceDatabaseReader, TrainedDatabaseKeepsTheClassicLayoutAndLoadsBitForBitAsOpenCvReadsIt) {
    train({3, 4, 5}, 1, 3);
    const std::string xml = readFile("facedata.xml");
    std::size_t last = 0;
    for (const char* key : {"<nPersons>3<", "<personName_1>s3<", "<personName_3>s5<", "<nEigens>8<", "<nTrainFaces>9<",
                            "<trainPersonNumMat type_id=\"opencv-matrix\">", "<eigenValMat type_id=\"opencv-matrix\">",
                            "<projectedTrainFaceMat type_id=\"opencv-matrix\">", "<avgTrainImg type_id=\"opencv-image\">",
                            "<eigenVect_0 type_id=\"opencv-image\">", "<eigenVect_7 type_id=\"opencv-image\">"}) {
        last = xml.find(key, last);
        ASSERT_NE(last, std::string::npos) << key;
    }
    EXPECT_EQ(xml.find("personName_0"), std::string::npos);
    EXPECT_EQ(xml.find("eigenVect_8"), std::string::npos);
    const cv::FileStorage reference("facedata.xml", cv::FileStorage::READ);
    for (const auto& [record, field, value] : {std::tuple{"trainPersonNumMat", "dt", "i"}, {"projectedTrainFaceMat", "dt", "f"},
                                               {"eigenVect_3", "origin", "top-left"}, {"eigenVect_3", "layout", "interleaved"}, {"eigenVect_3", "dt", "f"}})
        EXPECT_EQ(static_cast<std::string>(reference[record][field]), value) << record << " " << field;

    nPersons = nEigens = nTrainFaces = 0;
    cv::Mat numbers;
    ASSERT_EQ(loadTrainingData(numbers), 1);
    EXPECT_EQ((std::vector<int>{nPersons, nEigens, nTrainFaces}), (std::vector<int>{3, 8, 9}));
    EXPECT_EQ(personNames, (std::vector<std::string>{"s3", "s4", "s5"}));
    for (const auto& [ours, key] : {std::pair{&numbers, "trainPersonNumMat"}, {&eigenValMat, "eigenValMat"},
                                    {&projectedTrainFaceMat, "projectedTrainFaceMat"}})
        EXPECT_TRUE(sameBits(*ours, reference[key].mat())) << key;
    EXPECT_TRUE(sameBits(pAvgTrainImg, openCvImage(reference, "avgTrainImg")));
    ASSERT_EQ(eigenVectArr.size(), 8u);
    for (int j = 0; j < nEigens; ++j)
        EXPECT_TRUE(sameBits(eigenVectArr[j], openCvImage(reference, cv::format("eigenVect_%d", j)))) << j;
}

TEST_F(FaceDatabaseReader, DamagedDatabasesOrOnesCutShortAnywhereAreRefusedAndTheLoadedOneStays) {
    trainSmall();
    const auto edit = [&](const std::string& from, const std::string& to) { return replaced(good, from, to); };
    // The values between <data> and </data> of one record.
    const auto withData = [&](const std::string& record, const std::string& values) {
        std::string xml = good;
        const auto begin = xml.find("<data>", xml.find("<" + record + " ")) + 6;
        return xml.replace(begin, xml.find("</data>", begin) - begin, values);
    };
    const std::string numbers = "trainPersonNumMat";
    const std::string crash =
        robotest::readFile(robotest::testData("../../fuzz/regressions/facedata/opencv-xml-reader-segfault"));
    ASSERT_GT(crash.size(), 1000u);
    const std::vector<std::pair<std::string, std::string>> damages = {
        {"mismatched close", edit("</nEigens>", "</nEigen>")},
        {"unknown type_id", edit("\"opencv-matrix\"", "\"opencv-nd-matrix\"")},
        {"entry given twice", edit("<nEigens>3</nEigens>", "<nEigens>3</nEigens><nEigens>3</nEigens>")},
        {"count not a number", edit("<nEigens>3</nEigens>", "<nEigens>3x</nEigens>")},
        {"persons beyond int", edit("<nPersons>2</nPersons>", "<nPersons>99999999999</nPersons>")},
        {"data word not a number", withData(numbers, "1 1 2 x2")},
        {"data count short", withData(numbers, "1 1 2")},
        {"byte beyond a byte", replaced(withData(numbers, "1 1 2 256"), "<dt>i</dt>", "<dt>u</dt>")},
        {"float beyond float", withData("eigenValMat", "3.5e+38 0.5 0.25")},
        {"not finite eigenvalue", withData("eigenValMat", ".Nan 0.5 0.25")},
        {"size beyond the limit", edit("<width>6</width>", "<width>2147483647</width>")},
        {"sizes whose product overflows",
         edit("<rows>1</rows>\n  <cols>4</cols>\n  <dt>i</dt>",
              "<rows>2147483647</rows>\n  <cols>2147483647</cols>\n  <dt>\"4i\"</dt>")},
        {"negative size", edit("<height>7</height>", "<height>-7</height>")},
        {"picture of bytes",
         replaced(withData("avgTrainImg", repeated("1 ", 42)), "<dt>f</dt>", "<dt>u</dt>", "avgTrainImg")},
        {"empty file", ""},
        {"more eigenfaces than stored", edit("<nEigens>3</nEigens>", "<nEigens>4</nEigens>")},
        {"more faces than stored", edit("<nTrainFaces>4</nTrainFaces>", "<nTrainFaces>5</nTrainFaces>")},
        {"rows the data does not fit", edit("<rows>4</rows>", "<rows>2</rows>")},
        {"picture of another width", edit("<width>6</width>", "<width>5</width>")},
        {"eigenface misnamed", edit("<eigenVect_2 type_id", "<eigenVect_22 type_id")},
        {"person without a name", edit("<nPersons>2</nPersons>", "<nPersons>1</nPersons>")},
        {"deep nesting", "<?xml version=\"1.0\"?>\n<opencv_storage>\n" + repeated("<a>", 100000)},
        {"a file that crashed OpenCV's reader", crash},
    };
    for (const auto& [what, xml] : damages) expectRefused(xml, what);
    const std::size_t end = good.rfind("</opencv_storage>") + std::string("</opencv_storage>").size();
    for (std::size_t cut = 0; cut < end && !HasFailure(); cut += cut < 300 ? 1 : 11)
        expectRefused(good.substr(0, cut), "cut at " + std::to_string(cut));
}

TEST_F(FaceDatabaseReader, MissingEmptyOrOddDatabasesAreReportedOrReadAsTheyCan) {
    trainSmall();
    // The robot trains at least two pictures; a database written elsewhere may still hold no eigenfaces.
    // Names with blanks and XML characters come back (a lone quote is written unquoted,
    // which OpenCV's own reader refuses).
    personNames = {"Ona Petraitiene & <Jonas>", "\""};
    nEigens = 0;
    eigenVectArr.clear();
    eigenValMat = cv::Mat(1, 0, CV_32F);
    projectedTrainFaceMat = cv::Mat(nTrainFaces, 0, CV_32F);
    ASSERT_EQ(storeTrainingData(), 1);
    personNames.clear();
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(personNames, (std::vector<std::string>{"Ona Petraitiene & <Jonas>", "\""}));
    EXPECT_EQ(nEigens, 0);
    EXPECT_EQ(nTrainFaces, 4);
    float confidence = 0;
    std::vector<float> projection(1, 0.0f);
    EXPECT_FALSE(projectFace(faceImgArr[0], projection.data()));
    EXPECT_EQ(findNearestNeighbor(projection.data(), &confidence), -1);
    writeText("facedata.xml", replaced(good, "<personName_2>s4</personName_2>", "<personName_2>42</personName_2>"));
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(personNames, (std::vector<std::string>{"s3", ""})) << "a name that is not text reads as empty";
    writeText("facedata.xml", replaced(good, "<nPersons>2</nPersons>", ""));
    EXPECT_EQ(load(), 0);
    EXPECT_NE(row(36).find("Nera uzregistruotu DB 'facedata.xml'."), std::string::npos);
    EXPECT_EQ(nPersons, 0);
    std::filesystem::remove("facedata.xml");
    EXPECT_EQ(load(), 0);
    EXPECT_NE(row(36).find("Negaliu atidaryti DB failo 'facedata.xml'."), std::string::npos);
    writeText("facedata.xml", good);
    std::filesystem::create_directory("facedata.xml.part");  // blocks the temporary file
    EXPECT_EQ(learn("train.txt"), 0);
    EXPECT_EQ(readFile("facedata.xml"), good) << "the old database stays whole when the new one cannot be written";
}

// The eigenface arithmetic: unit eigenfaces, faithful projections, the nearest
// neighbour and its confidence, the eigenface pictures, and recognition quality.
using Eigenfaces = FaceDatabaseReader;

TEST_F(Eigenfaces, EigenfacesRebuildTheTrainingPicturesTheyAreMadeOf) {
    train({3, 4, 5}, 1, 4);
    ASSERT_EQ(nEigens, 11);
    ASSERT_EQ(eigenVectArr.size(), 11u);
    for (int i = 0; i < nEigens; ++i)
        for (int j = 0; j < nEigens; ++j) EXPECT_NEAR(eigenVectArr[i].dot(eigenVectArr[j]), i == j, 1e-4) << i << "," << j;
    EXPECT_NEAR(cv::sum(eigenValMat)[0], 1.0, 1e-5);
    for (int k = 1; k < nEigens; ++k) EXPECT_GE(eigenValMat.at<float>(0, k - 1), eigenValMat.at<float>(0, k));
    EXPECT_GT(eigenValMat.at<float>(0, nEigens - 1), 0.0f);
    // The average is the plain mean of the training pictures.
    cv::Mat sum = cv::Mat::zeros(pAvgTrainImg.size(), CV_32F), original;
    for (const cv::Mat& picture : faceImgArr) cv::accumulate(picture, sum);
    EXPECT_LT(cv::norm(sum / nTrainFaces, pAvgTrainImg, cv::NORM_INF), 1e-3);
    cv::Mat rebuilt = pAvgTrainImg.clone();
    for (int k = 0; k < nEigens; ++k) rebuilt += projectedTrainFaceMat.at<float>(7, k) * eigenVectArr[k];
    faceImgArr[7].convertTo(original, CV_32F);
    EXPECT_LT(cv::norm(rebuilt, original, cv::NORM_INF), 0.5);

    std::vector<float> projection(nEigens);
    ASSERT_TRUE(projectFace(faceImgArr[5], projection.data()));
    float confidence = 0.0f;
    EXPECT_EQ(findNearestNeighbor(projection.data(), &confidence), 5);
    EXPECT_FLOAT_EQ(confidence, 1.0f);
    // A picture of another size is refused rather than read out of bounds.
    EXPECT_FALSE(projectFace(cv::Mat(20, 20, CV_8U, cv::Scalar(1)), projection.data()));
}

TEST_F(Eigenfaces, TiesGoToTheEarlierPictureAndConfidenceFallsWithDistance) {
    nTrainFaces = 3;
    nEigens = 2;
    projectedTrainFaceMat = (cv::Mat_<float>(3, 2) << 10, 0, 0, 10, -10, 0);
    const float test[] = {0, 0};
    float confidence = 0.0f;
    EXPECT_EQ(findNearestNeighbor(test, &confidence), 0);
    // RMS difference per element: sqrt(100 / 6).
    EXPECT_NEAR(confidence, 1.0 - std::sqrt(100.0 / 6.0) / 255.0, 1e-6);
    const float nearThird[] = {-9, 0};
    EXPECT_EQ(findNearestNeighbor(nearThird, &confidence), 2);

    nTrainFaces = 0;
    EXPECT_EQ(findNearestNeighbor(test, &confidence), -1);
}

TEST_F(Eigenfaces, EigenfaceCanvasHasEightColumns) {
    for (int count : {17, 16, 3}) {
        nEigens = count;
        pAvgTrainImg = cv::Mat(90, 120, CV_32F, cv::Scalar(100.5));
        eigenVectArr.assign(count, cv::Mat());
        cv::RNG rng(count);
        for (cv::Mat& vector : eigenVectArr) rng.fill(vector = cv::Mat(90, 120, CV_32F), cv::RNG::UNIFORM, -1.0, 1.0);
        storeEigenfaceImages();
        EXPECT_EQ(cv::imread("out_eigenfaces.bmp", cv::IMREAD_UNCHANGED).size(),
                  cv::Size(std::min(count, 8) * 120, (count / 8 + 1) * 90)) << count;
        EXPECT_EQ(noofegineface, count);
        const cv::Mat average = cv::imread("out_averageImage.bmp", cv::IMREAD_GRAYSCALE);
        ASSERT_EQ(average.size(), cv::Size(120, 90));
        EXPECT_EQ(average.at<uchar>(0, 0), 100);  // plain conversion, no stretching
    }
    // The stretched eigenface fills 0..255 in its cell.
    const cv::Mat canvas = cv::imread("out_eigenfaces.bmp", cv::IMREAD_GRAYSCALE);
    double low = 0, high = 0;
    cv::minMaxLoc(canvas(cv::Rect(120, 0, 120, 90)), &low, &high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 255);
}

// Five pictures of each person train, the other five test: the robot's database
// recognises at least as many as OpenCV's eigenface recogniser on the same split.
TEST_F(Eigenfaces, RecognisesUnseenPicturesAtLeastAsWellAsOpenCV) {
    const std::vector<int> persons{3, 4, 5, 6, 7, 8};
    train(persons, 1, 5);
    auto reference = cv::face::EigenFaceRecognizer::create();
    reference->train(faceImgArr, personNumTruthMat);
    std::vector<float> projection(nEigens);
    int ours = 0, theirs = 0;
    for (std::size_t k = 0; k < persons.size(); ++k) {
        for (int i = 6; i <= 10; ++i) {
            const cv::Mat picture = facetest::orlPicture(persons[k], i);
            ASSERT_TRUE(projectFace(picture, projection.data()));
            float confidence = 0.0f;
            const int nearest = findNearestNeighbor(projection.data(), &confidence);
            ours += personNumTruthMat.at<int>(0, nearest) == static_cast<int>(k) + 1;
            theirs += reference->predict(picture) == static_cast<int>(k) + 1;
        }
    }
    EXPECT_GE(ours, theirs);
    EXPECT_GE(ours, 27);  // of 30
}

// Reading training lists: who is who, and what a bad list does; robotas-faces,
// the offline face database tool over the robot's own functions.
using Names = std::vector<std::string>;

using FaceList = FaceDatabaseReader;

TEST_F(FaceList, ListsAreReadLineByLineBadLinesReportedAndOnlyFitListsLearnt) {
    facetest::copyPicture(3, 1, "data/a.pgm");
    facetest::copyPicture(3, 2, "data/b.pgm");
    facetest::copyPicture(4, 1, "data/c.pgm");
    cv::imwrite("data/small.pgm", cv::Mat(50, 40, CV_8U, cv::Scalar(9)));
    const std::string longName(3000, 'V'), folder(200, 'f');
    const std::string deep = "data/" + folder + "/" + folder + "/" + folder + "/" + std::string(200, 'p') + ".pgm";
    facetest::copyPicture(3, 1, deep);
    const struct {
        std::string list;
        int loaded;
        Names names;
        std::vector<std::string> errors;
    } lists[] = {
        // The first number names every person below it; later entries rename nobody.
        {"3 Ona data/c.pgm\n2 Petras data/a.pgm\n5 Ieva data/b.pgm\n3 Kazys data/c.pgm\n", 4,
         {"Ona", "Ona", "Ona", "Ieva", "Ieva"}, {}},
        {"\n1 Jonas data/a.pgm\n   \nJonas 1 data/a.pgm\n0 Nobody data/a.pgm\n-2 Minus data/a.pgm\n2x Ona data/b.pgm\n"
         "1 Jonas\n1 Jonas data/b.pgm", 2, {"Jonas"},
         {"Bloga eilute 1 ", "Bloga eilute 3 ", "Bloga eilute 4 ", "Bloga eilute 5 ", "Bloga eilute 6 ", "Bloga eilute 7 ", "Bloga eilute 8 "}},
        {"\n\n \n", 0, {}, {}},
        {"1 " + longName + " " + deep + "\n1 " + longName + " " + deep + "\n", 2, {longName}, {}},
        {"1 Jonas data/a.pgm\n1 Jonas data/missing.pgm\n", 0, {}, {"Negaliu atidaryti paveikslelio data/missing.pgm\n"}},
    };
    for (const auto& l : lists) {
        writeText("list.txt", l.list);
        testing::internal::CaptureStderr();
        EXPECT_EQ(loadFaceImgArray("list.txt"), l.loaded) << l.list.substr(0, 80);
        const std::string errors = testing::internal::GetCapturedStderr();
        if (l.loaded) { EXPECT_EQ(personNames, l.names) << l.list.substr(0, 80); }
        if (l.loaded || l.errors.empty()) { EXPECT_EQ(nPersons, static_cast<int>(l.names.size())) << l.list.substr(0, 80); }
        for (const std::string& error : l.errors) EXPECT_NE(errors.find(error), std::string::npos) << error;
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(loadFaceImgArray("nothing.txt"), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Negaliu atidaryti failo nothing.txt\n"), std::string::npos);

    // Learning takes two pictures of one size and keeps the old database otherwise.
    writeText("train.txt", "1 Jonas data/a.pgm\n1 Jonas data/b.pgm\n2 Ona data/c.pgm\n");
    ASSERT_EQ(learn("train.txt"), 1);
    EXPECT_EQ(personNames, (Names{"Jonas", "Ona"}));
    EXPECT_EQ(nTrainFaces, 3);
    EXPECT_EQ(nEigens, 2);
    EXPECT_EQ(personNumTruthMat.at<int>(0, 2), 2);

    writeText("facedata.xml", "old database");
    writeText("one.txt", "1 Jonas data/a.pgm\n");
    writeText("sizes.txt", "1 Jonas data/a.pgm\n2 Ona data/small.pgm\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(learn("one.txt"), 0);
    EXPECT_EQ(learn("sizes.txt"), 0);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Reikalingi 2 ar daugiau veidu DB\nIvedamas failas sudaro 1\n"), std::string::npos) << errors;
    EXPECT_NE(errors.find("data/small.pgm dydis 40x50"), std::string::npos) << errors;
    EXPECT_EQ(robotest::readFile("facedata.xml"), "old database");
}

using robotest::runProgram;

TEST(FaceTool, LearnsAListAndReportsTheAccuracyOfAnother) {
    robotest::ScopedWorkDir dir;
    facetest::writeText("train.txt", facetest::trainingList({3, 4, 5, 6}, 1, 5));
    facetest::writeText("test.txt", facetest::trainingList({3, 4, 5, 6}, 6, 10));
    EXPECT_EQ(runProgram("robotas-faces", {"learn", "train.txt"}).status, 0);
    // Into a file the report is plain lines, one fact each, nothing drawn over another.
    const robotest::ProgramRun report = runProgram("robotas-faces", {"test", "test.txt"});
    EXPECT_EQ(report.status, 0);
    EXPECT_EQ(report.out.find('\x1b'), std::string::npos);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(report.out, match,
                                  std::regex("\nTOTAL ACCURACY: ([0-9]+)% out of 20 tests\\.\nTOTAL TIME: [0-9.]+ms average\\.\n$")))
        << report.out;
    EXPECT_GE(std::stoi(match[1]), 85);
    EXPECT_EQ(report.out.rfind("20 Ivestu veidu testas\nApytiksliai = 1, Truth = 1 (Correct). Panasumas = ", 0), 0u);
    // Two of three right (the third is labelled as the wrong person): the accuracy rounds down.
    facetest::writeText("three.txt", "1 s3 data/1_s36.pgm\n2 s4 data/2_s46.pgm\n1 s3 data/3_s56.pgm\n");
    const std::string three = runProgram("robotas-faces", {"test", "three.txt"}).out;
    EXPECT_NE(three.find("\nTOTAL ACCURACY: 66% out of 3 tests.\nTOTAL TIME: "), std::string::npos) << three;

    facetest::writeText("one.txt", facetest::trainingList({3}, 1, 1));
    std::filesystem::remove("facedata.xml");
    EXPECT_EQ(runProgram("robotas-faces", {"learn", "one.txt"}).status, 1);
    const robotest::ProgramRun withoutDatabase = runProgram("robotas-faces", {"test", "one.txt"});
    EXPECT_EQ(withoutDatabase.status, 1);
    EXPECT_EQ(withoutDatabase.err, "robotas-faces: Negaliu atidaryti DB failo 'facedata.xml'.\n");
    EXPECT_EQ(runProgram("robotas-faces", {"teach", "one.txt"}).status, 2);
}

}  // namespace
