#pragma once
// The face database: training pictures listed in a file (one "number name picture"
// entry a line), their average and eigenfaces, one projection per picture, the
// database file facedata.xml, and the nearest-neighbour search with its confidence.
// One database at a time, in program-wide variables.

#include <opencv2/core.hpp>

#include <string>
#include <vector>

// Haar cascades in the working directory.
extern const char* veidasCascadeFilename;    // frontal faces
extern const char* veidasPrCascadeFilename;  // profile faces

extern int SAVE_EIGENFACE_IMAGES;   // non-zero: training also stores the eigenface pictures
extern int faceWidth, faceHeight;   // normalised face picture size
extern int recsize, recsize1;       // record sizes of the person file

// What the statistics screen shows of the last training and recognition test.
extern int noofegineface;     // eigenfaces in the last stored eigenface picture
extern int nooftraingimage;   // pictures in the last training list
extern float confi;           // confidence of the last face of a recognition test
extern int accuracy;          // percentage of correct answers of the last recognition test
extern float detectiontime;   // average milliseconds per face of the last recognition test

extern std::vector<cv::Mat> faceImgArr;        // pictures of the last list, 8-bit grey
extern cv::Mat personNumTruthMat;              // 1 x pictures, CV_32S: person number of each
extern std::vector<std::string> personNames;   // name of person 1 ... nPersons
extern int nPersons;
extern int nTrainFaces;
extern int nEigens;
extern cv::Mat pAvgTrainImg;                   // average face, CV_32F
extern std::vector<cv::Mat> eigenVectArr;      // eigenfaces of unit length, CV_32F, face size
extern cv::Mat eigenValMat;                    // 1 x nEigens, CV_32F, summing to 1
extern cv::Mat projectedTrainFaceMat;          // nTrainFaces x nEigens, CV_32F

// Reads a list file into faceImgArr, personNumTruthMat and personNames; returns the
// number of pictures, 0 on failure. Empty and malformed lines are reported and skipped.
int loadFaceImgArray(const std::string& filename);
// Average, nTrainFaces - 1 eigenfaces and normalised eigenvalues of faceImgArr.
void doPCA();
// doPCA and the projection of every training picture (training without the files).
void trainOnFaceImgArr();
// Trains on a list file and writes facedata.xml; 1 on success, 0 when nothing was written.
int learn(const std::string& filename);
// Writes facedata.xml (through a temporary file, so an old database stays whole); 1 on success.
int storeTrainingData();
// Reads facedata.xml; the person number of each training picture goes to
// trainPersonNumMat. 1 on success, 0 (with a message) when missing or damaged.
int loadTrainingData(cv::Mat& trainPersonNumMat);
// Why facedata.xml did not load, in the console's words: the footer line and
// what follows it (the damaged entry). Empty footer: it loaded.
struct DatabaseFault {
    std::string footer;
    std::string detail;
};
// loadTrainingData without the console: the fault is returned, not shown.
DatabaseFault readTrainingData(cv::Mat& trainPersonNumMat);

// Coefficients of a picture in the given eigenfaces: dot products of (picture - avg).
void eigenDecomposite(const cv::Mat& picture, int nEigs, const std::vector<cv::Mat>& eigenVectors,
                      const cv::Mat& avg, float* coeffs);
// Projects a face-sized grey picture on the loaded database (nEigens floats).
// False when the picture is not of the database's face size.
bool projectFace(const cv::Mat& picture, float* projection);
// Index of the training picture nearest to a projection, and its confidence
// (1 for identical projections); -1 when no database is loaded.
int findNearestNeighbor(const float* projectedTestFace, float* pConfidence);

// Writes out_averageImage.bmp and out_eigenfaces.bmp (eight eigenfaces a row).
void storeEigenfaceImages();
// Forgets the database, trains again from train.txt and loads the result;
// returns the new person numbers. Ends the program when nothing loads.
cv::Mat retrainOnline();
// Recognises every picture of a list against facedata.xml and draws the report
// on the console screen.
void recognizeFileList(const std::string& filename);

// One picture of a test list: the person recognised, the person listed, how alike.
struct FaceTestAnswer {
    int answer = 0;
    int truth = 0;
    float confidence = 0.0f;
};
// What recognising a list found. Testing stops at the first fault; accuracy and
// averageMs are set only when every listed picture was tested.
struct FaceListReport {
    int listed = 0;                       // pictures read from the list
    std::vector<FaceTestAnswer> answers;  // in list order
    DatabaseFault databaseFault;          // facedata.xml did not load
    std::string pictureFault;             // a picture of another size than the database's faces
    int accuracy = -1;                    // percent right
    float averageMs = 0.0f;               // per picture
};
// Recognition of a list without the console (sets confi, accuracy, detectiontime).
FaceListReport testFileList(const std::string& filename);
// The report in the console's words, one fact a line; the faults are not among them.
std::vector<std::string> faceListReportLines(const FaceListReport& report);
// A database fault as one line.
std::string faultLine(const DatabaseFault& fault);
