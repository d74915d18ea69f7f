// robotas-demo-data --samples DIR --cascade FILE --out DIR [--only faces|objects|stereo|scene]
//                   [--crossing FRAMES] [--pictures N]
//
// Makes what the demo robot sees and knows, from the small sample pictures of
// the repository (DIR = tests/data):
//   faces-right.avi, faces-left.avi     a known person's face moving across a
//                                       street, as the right and left camera see it
//   objects-right.avi, objects-left.avi the empty street, then a cookie box held
//                                       in front of it and moved about
//   stereo-right.avi, stereo-left.avi   a rectified stereo pair (Aloe)
//   scene-right.txt, scene-left.txt     scene cameras: the street as a wide picture
//                                       (scene-street.png) and the known person
//                                       (scene-person.png) walking across it; the
//                                       head turns the cameras; both log to scene.log
//   data/<n>_<ID>_<name><i>.pgm, train.txt
//                                       face pictures of a few persons as the
//                                       enrolment mode keeps them (found by the
//                                       cascade, cut out, sized and equalised;
//                                       the recorded person from the recording),
//                                       listed for "robotas-faces learn train.txt"
// The recordings are 320 x 240 motion-JPEG files; the robot plays them in a loop.
// --only makes one set (faces: with the face pictures); --crossing sets the
// frames the face takes to cross the picture (120) and --pictures how many of
// each person's pictures the recordings show and the database learns (10);
// less makes a quicker set for tests.

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <opencv2/videoio.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "faces/camera/imageutil.h"
#include "faces/faces.h"
#include "shell/console/program_end.h"

namespace {

const cv::Size kFrame(320, 240);
constexpr double kFramesPerSecond = 15;
constexpr double kJpegQuality = 80;
constexpr int kFacePictures = 10;        // each ORL person has ten
constexpr int kDefaultCrossingFrames = 120;  // one way across; the recording goes there and back
constexpr int kMinCrossingFrames = 10, kMaxCrossingFrames = 1000;
constexpr double kFaceScale = 1.25;      // the face a little nearer than the pictures show it
constexpr int kLeftCameraShift = 8;      // the left camera sees near things further right

// The persons the demo robot knows: the first is the one in the recordings.
struct Person {
    const char* folder;
    const char* fullName;  // ID_name, as the enrolment mode names a person
};
const Person kPersons[] = {{"s3", "101_Jonas"}, {"s4", "102_Ona"}, {"s5", "103_Petras"}};

struct Options {
    std::string samples;
    std::string cascade;
    std::string out;
    std::string only;  // empty: every set
    int crossingFrames = kDefaultCrossingFrames;
    int pictures = kFacePictures;
};

int usage() {
    std::fputs("usage: robotas-demo-data --samples DIR --cascade FILE --out DIR [--only faces|objects|stereo|scene]\n"
               "                         [--crossing FRAMES] [--pictures N]\n",
               stderr);
    return 2;
}

bool parseCount(const std::string& text, int lowest, int highest, int& value) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoi(text);
    return value >= lowest && value <= highest;
}

bool parseOptions(int argc, char** argv, Options& options) {
    if (argc % 2 != 1) return false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--samples") options.samples = value;
        else if (option == "--cascade") options.cascade = value;
        else if (option == "--out") options.out = value;
        else if (option == "--only" && (value == "faces" || value == "objects" || value == "stereo" || value == "scene")) options.only = value;
        else if (option == "--crossing" && parseCount(value, kMinCrossingFrames, kMaxCrossingFrames, options.crossingFrames)) continue;
        else if (option == "--pictures" && parseCount(value, 1, kFacePictures, options.pictures)) continue;
        else return false;
    }
    return !options.samples.empty() && !options.cascade.empty() && !options.out.empty();
}

bool wanted(const Options& options, const char* set) { return options.only.empty() || options.only == set; }

cv::Mat readColour(const std::string& path) {
    const cv::Mat picture = cv::imread(path, cv::IMREAD_COLOR);
    if (picture.empty()) std::fprintf(stderr, "robotas-demo-data: cannot read %s\n", path.c_str());
    return picture;
}

cv::Mat fitToFrame(const cv::Mat& picture) {
    cv::Mat fitted;
    cv::resize(picture, fitted, kFrame, 0, 0, cv::INTER_AREA);
    return fitted;
}

// The picture pasted onto the background with its top-left corner at "at",
// clipped to the frame.
cv::Mat pasted(const cv::Mat& background, const cv::Mat& picture, cv::Point at) {
    cv::Mat frame = background.clone();
    const cv::Rect target = cv::Rect(at, picture.size()) & cv::Rect(cv::Point(), frame.size());
    if (target.empty()) return frame;
    picture(cv::Rect(target.tl() - at, target.size())).copyTo(frame(target));
    return frame;
}

// A camera is never quite still: a little sensor noise, the same for every run.
void addSensorNoise(cv::Mat& frame, cv::RNG& rng) {
    cv::Mat noise(frame.size(), CV_16SC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, 1);
    cv::Mat noisy;
    frame.convertTo(noisy, CV_16SC3);
    noisy += noise;
    noisy.convertTo(frame, CV_8UC3);
}

class Recording {
public:
    explicit Recording(const std::string& path)
        : path_(path),
          writer_(path, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), kFramesPerSecond, kFrame) {
        writer_.set(cv::VIDEOWRITER_PROP_QUALITY, kJpegQuality);
    }
    bool ok() const { return writer_.isOpened(); }
    void add(const cv::Mat& frame) {
        writer_.write(frame);
        ++frames_;
    }
    ~Recording() {
        writer_.release();
        std::printf("%-40s %d frames\n", path_.c_str(), frames_);
    }

private:
    std::string path_;
    cv::VideoWriter writer_;
    int frames_ = 0;
};

std::string facePicturePath(const Options& options, const Person& person, int number) {
    return options.samples + "/faces/" + person.folder + "/" + std::to_string(number) + ".pgm";
}

cv::Mat scaledFace(const std::string& path) {
    const cv::Mat face = readColour(path);
    if (face.empty()) return face;
    cv::Mat scaled;
    cv::resize(face, scaled, cv::Size(), kFaceScale, kFaceScale, cv::INTER_LINEAR);
    return scaled;
}

// Where the face is in frame i of a crossing there and back, with a slight bob.
cv::Point facePosition(int i, int crossingFrames, const cv::Size& face) {
    const int span = kFrame.width - face.width - 2 * kLeftCameraShift;
    const int step = i < crossingFrames ? i : 2 * crossingFrames - 1 - i;
    const int x = kLeftCameraShift + span * step / (crossingFrames - 1);
    const int y = (kFrame.height - face.height) / 2 + ((step / 10) % 2 ? 6 : -6);
    return {x, y};
}

bool makeFaceRecordings(const Options& options, const cv::Mat& street) {
    Recording right(options.out + "/faces-right.avi"), left(options.out + "/faces-left.avi");
    if (!right.ok() || !left.ok()) return false;
    std::vector<cv::Mat> faces;
    for (int n = 1; n <= options.pictures; ++n) faces.push_back(scaledFace(facePicturePath(options, kPersons[0], n)));
    if (faces.front().empty()) return false;
    cv::RNG rng(1);
    const int framesPerPicture = std::max(1, 2 * options.crossingFrames / options.pictures);
    for (int i = 0; i < 2 * options.crossingFrames; ++i) {
        const cv::Mat& face = faces[static_cast<std::size_t>(i / framesPerPicture) % faces.size()];
        if (face.empty()) return false;
        const cv::Point at = facePosition(i, options.crossingFrames, face.size());
        cv::Mat rightFrame = pasted(street, face, at);
        cv::Mat leftFrame = pasted(street, face, at + cv::Point(kLeftCameraShift, 0));
        addSensorNoise(rightFrame, rng);
        addSensorNoise(leftFrame, rng);
        right.add(rightFrame);
        left.add(leftFrame);
    }
    return true;
}

// The face as the enrolment mode keeps it: found by the cascade in the camera
// picture, cut out, brought to the database's face size and equalised.
cv::Mat enrolmentPicture(const cv::Mat& frame, cv::CascadeClassifier& cascade) {
    cv::Mat grey = convertImageToGreyscale(frame);
    const cv::Rect found = detectFaceInImage(grey, cascade);
    if (!faceFound(found)) return cv::Mat();
    cv::Mat equalised;
    cv::equalizeHist(resizeImage(cropImage(grey, found), faceWidth, faceHeight), equalised);
    return equalised;
}

// The person in the recordings is enrolled from the right camera's recording
// itself, every other frame, as the enrolment mode takes them while the person
// walks in front of the robot; the others from their pictures at three places.
bool enrolFromRecording(const Options& options, cv::CascadeClassifier& cascade, std::vector<cv::Mat>& pictures) {
    cv::VideoCapture recording(options.out + "/faces-right.avi", cv::CAP_ANY);
    if (!recording.isOpened()) recording.open(options.out + "/faces-right.avi", cv::CAP_OPENCV_MJPEG);
    cv::Mat frame;
    for (int i = 0; recording.read(frame); ++i) {
        if (i % 2 == 0) pictures.push_back(enrolmentPicture(frame, cascade));
    }
    return !pictures.empty();
}

bool enrolFromSamples(const Options& options, const Person& person, const cv::Mat& street, cv::CascadeClassifier& cascade,
                      std::vector<cv::Mat>& pictures) {
    const int crossing = options.crossingFrames;
    for (int n = 1; n <= options.pictures; ++n) {
        const cv::Mat face = scaledFace(facePicturePath(options, person, n));
        if (face.empty()) return false;
        for (int step : {0, crossing / 2, crossing - 1})
            pictures.push_back(enrolmentPicture(pasted(street, face, facePosition(step, crossing, face.size())), cascade));
    }
    return true;
}

bool makeFaceDatabasePictures(const Options& options, const cv::Mat& street, cv::CascadeClassifier& cascade) {
    const std::string folder = options.out + "/data";
    mkdir(folder.c_str(), 0755);
    std::ofstream list(options.out + "/train.txt");
    int personNumber = 0;
    for (const Person& person : kPersons) {
        ++personNumber;
        std::vector<cv::Mat> pictures;
        const bool enrolled = personNumber == 1 ? enrolFromRecording(options, cascade, pictures)
                                                : enrolFromSamples(options, person, street, cascade, pictures);
        if (!enrolled) return false;
        int kept = 0, missed = 0;
        for (const cv::Mat& picture : pictures) {
            if (picture.empty()) {
                ++missed;
                continue;
            }
            const std::string name = cv::format("data/%d_%s%d.pgm", personNumber, person.fullName, ++kept);
            if (!cv::imwrite(options.out + "/" + name, picture)) return false;
            list << personNumber << ' ' << person.fullName << ' ' << name << '\n';
        }
        std::printf("%-40s %d pictures (%d without a face found)\n", person.fullName, kept, missed);
        if (kept == 0) return false;
    }
    return static_cast<bool>(list.flush());
}

// The box (a textured, flat object) held in front of the street: the empty
// street first, so that the robot can take it as its background.
bool makeObjectRecordings(const Options& options, const cv::Mat& street) {
    Recording right(options.out + "/objects-right.avi"), left(options.out + "/objects-left.avi");
    if (!right.ok() || !left.ok()) return false;
    cv::Mat box = readColour(options.samples + "/objects/box.png");
    if (box.empty()) return false;
    cv::resize(box, box, cv::Size(), 0.4, 0.4, cv::INTER_AREA);
    constexpr int kEmptyFrames = 60, kBoxFrames = 120;
    cv::RNG rng(2);
    for (int i = 0; i < kEmptyFrames + kBoxFrames; ++i) {
        cv::Mat rightFrame = street.clone(), leftFrame = street.clone();
        if (i >= kEmptyFrames) {
            const int step = i - kEmptyFrames;
            const cv::Point at(90 + (step % 60 < 30 ? step % 30 : 30 - step % 30), 70);
            rightFrame = pasted(street, box, at);
            leftFrame = pasted(street, box, at + cv::Point(kLeftCameraShift, 0));
        }
        addSensorNoise(rightFrame, rng);
        addSensorNoise(leftFrame, rng);
        right.add(rightFrame);
        left.add(leftFrame);
    }
    return true;
}

bool makeStereoRecordings(const Options& options) {
    Recording right(options.out + "/stereo-right.avi"), left(options.out + "/stereo-left.avi");
    if (!right.ok() || !left.ok()) return false;
    const cv::Mat rightPicture = readColour(options.samples + "/stereo/aloeR_320x240.png");
    const cv::Mat leftPicture = readColour(options.samples + "/stereo/aloeL_320x240.png");
    if (rightPicture.empty() || leftPicture.empty()) return false;
    cv::RNG rng(3);
    for (int i = 0; i < 30; ++i) {
        cv::Mat rightFrame = fitToFrame(rightPicture), leftFrame = fitToFrame(leftPicture);
        addSensorNoise(rightFrame, rng);
        addSensorNoise(leftFrame, rng);
        right.add(rightFrame);
        left.add(leftFrame);
    }
    return true;
}

// The street four times as large, 100 degrees across; the person (who the face
// database knows) walks across it and back at 4 degrees a second, from 2 s on.
bool makeScene(const Options& options, const cv::Mat& streetPicture) {
    cv::Mat wide;
    cv::resize(streetPicture, wide, cv::Size(), 4, 4, cv::INTER_CUBIC);
    const cv::Mat person = readColour(options.samples + "/faces/" + kPersons[0].folder + "/1.pgm");
    if (person.empty() || !cv::imwrite(options.out + "/scene-street.png", wide) ||
        !cv::imwrite(options.out + "/scene-person.png", person))
        return false;
    for (const auto& [camera, yaw] : {std::pair{"right", 1}, {"left", -1}}) {
        std::ofstream(options.out + "/scene-" + camera + ".txt")
            << "robotas-scene\n# The " << camera << " camera on the robot's head, a degree " << (yaw > 0 ? "right" : "left")
            << " of its direction.\npicture scene-street.png 100\ncamera 50 " << yaw
            << "\npan 7 1400\ntilt 0 1850\nus-per-degree 10\nperson scene-person.png 18 -25 -4 25 -4 4 2\nlog scene.log\n";
    }
    return true;
}

}  // namespace

// The face library ends the program by throwing ProgramEnd after its message.
int main(int argc, char** argv) try {
    Options options;
    if (!parseOptions(argc, argv, options)) return usage();
    cv::CascadeClassifier cascade;
    if (!cascade.load(options.cascade)) {
        std::fprintf(stderr, "robotas-demo-data: cannot load the cascade %s\n", options.cascade.c_str());
        return 1;
    }
    mkdir(options.out.c_str(), 0755);
    const cv::Mat streetPicture = readColour(options.samples + "/objects/street.png");
    if (streetPicture.empty()) return 1;
    const cv::Mat street = fitToFrame(streetPicture);
    const bool made = (!wanted(options, "faces") ||
                       (makeFaceRecordings(options, street) && makeFaceDatabasePictures(options, street, cascade))) &&
                      (!wanted(options, "objects") || makeObjectRecordings(options, street)) &&
                      (!wanted(options, "stereo") || makeStereoRecordings(options)) &&
                      (!wanted(options, "scene") || makeScene(options, streetPicture));
    if (!made) {
        std::fprintf(stderr, "robotas-demo-data: could not make the demo data in %s\n", options.out.c_str());
        return 1;
    }
    return 0;
} catch (const ProgramEnd& end) {
    return end.status;
}
