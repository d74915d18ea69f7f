// Live face recognition end to end: picture folders as the two cameras, the
// servo-controller simulator on COM2, recorded speech and virtual time. A camera
// folder that holds no pictures is a camera that gives no frame: each of its
// getter calls reports and pauses more than 7 s of virtual time, which lets the
// 7-s and 15-s rules run in a few frames.

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include "faces/eigenfaces.h"
#include "faces/camera/imageutil.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "tests/faces/face_mode_fixture.h"

namespace {

using facetest::Lines;

const char* const kCallOut = "eSpeak.exe -v lv+m4 eeyyyy......kuuorr...jiuuuuoszzs";
const char* const kWhoAreYou = "eSpeak.exe -v lv+m4 kaasz....tuuu ";

class FaceRecognitionMode : public facetest::FaceModeTest {
protected:
    void SetUp() override {
        FaceModeTest::SetUp();
        facetest::copyFaceCascade();
    }

    // Persons 3 and 4 (pictures 1..5) as enrolment stores them: the face the
    // camera pipeline cuts out of the frame, equalised, under names with an ID in front.
    static void learnPersons(const std::string& name3, const std::string& name4) {
        cv::CascadeClassifier cascade("haarcascade_frontalface_alt.xml");
        std::string list;
        std::filesystem::create_directories("data");
        for (int k = 0; k < 10; ++k) {
            const int person = 3 + k % 2, picture = 1 + k / 2;
            cv::Mat frame = face(person, picture), equalised;
            stretchToFullRange(frame);
            const cv::Mat grey = convertImageToGreyscale(frame);
            const cv::Rect found = detectFaceInImage(grey, cascade);
            ASSERT_GT(found.width, 10) << "person " << person << " picture " << picture;
            cv::equalizeHist(resizeImage(cropImage(grey, found), 92, 112), equalised);
            const std::string file = cv::format("data/%d_%d.pgm", person, picture);
            cv::imwrite(file, equalised);
            list += std::to_string(person - 2) + " " + (person == 3 ? name3 : name4) + " " + file + "\n";
        }
        facetest::writeText("train.txt", list);
        ASSERT_EQ(learn("train.txt"), 1);
    }
    // The mode over the scripted keys, one a frame.
    static void run(const std::string& keys) {
        platform::scriptKeys(keys);
        VeidoAtpazinimas();
    }
    static void recordBoth(const cv::Mat& frame) {
        facetest::writeCameraRecording(1, {frame});
        facetest::writeCameraRecording(2, {frame});
    }

    // The servo commands once the log ends with the given ones (the simulator logs
    // a little after the robot wrote), or as they are after a bounded wait.
    static Lines servoCommandsEndingWith(const robotest::Ssc32Simulator& simulator, const Lines& tail) {
        Lines commands = servoCommands(simulator);
        for (int attempt = 0; attempt < 200 && !(commands.size() >= tail.size() && std::equal(tail.begin(), tail.end(), commands.end() - tail.size())); ++attempt)
            simulator.waitForLines(simulator.lines().size() + 1, 10), commands = servoCommands(simulator);
        return commands;
    }
};

TEST_F(FaceRecognitionMode, KnownPersonIsGreetedOnceWithTheIdBlankedAndShown) {
    learnPersons("7_Jonas", "12_Aleksandras_Kazimieras");
    recordBoth(face(3, 1));
    run("    m");

    EXPECT_EQ(spoken("eSpeak.exe -v lv+m4  eiyyyy.........kaasz.......eszyy"), 1);
    EXPECT_EQ(spoken("eSpeak.exe -v lv+m4   _Jonas"), 1) << "five frames of the same person, one greeting";
    EXPECT_EQ(spoken(kWhoAreYou), 0);
    EXPECT_EQ(text(47), "      7_Jonas");
    EXPECT_EQ(text(44).substr(6), "Panasumas(%) : 100.000000%");
    EXPECT_EQ(senasVeidas, "7_Jonas");
    EXPECT_EQ(ui::showCount("Desine"), 5);
    EXPECT_EQ(keyPressed & 0xFF, 'm');
    EXPECT_FALSE(camera.isOpened()) << "the mode releases its cameras";

    // Somebody else comes: greeted at once, a long name whole.
    platform::clearRecordedCommands();
    recordBoth(face(4, 1));
    keyPressed = kKeyMenuRead;
    run("  m");
    EXPECT_EQ(spoken("eSpeak.exe -v lv+m4    _Aleksandras_Kazimieras"), 1);
    EXPECT_EQ(text(47), "      12_Aleksandras_Kazimieras");
}

TEST_F(FaceRecognitionMode, UnknownFaceIsAskedOnceOverQuickFrames) {
    learnPersons("1_Ona", "2_Petras");
    recordBoth(face(8, 1));
    run("    m");  // five frames within a few milliseconds
    EXPECT_EQ(spoken(kWhoAreYou), 1);
    EXPECT_EQ(senasVeidas, "nepazistu");

    // Asked again after 7 s: the GreetingMemory steps below.
}

TEST_F(FaceRecognitionMode, HeadTurnsTowardsTheFaceAsBothCamerasSeeIt) {
    robotest::Ssc32Simulator simulator(dir.path());
    connectServos(simulator);
    learnPersons("1_Ona", "2_Petras");
    // The face sits low and to the left of both pictures.
    cv::Mat small;
    cv::resize(facetest::orlPicture(5, 1), small, cv::Size(), 1.4, 1.4);
    cv::Mat frame(240, 320, CV_8U, cv::Scalar(150));
    small.copyTo(frame(cv::Rect(8, 240 - small.rows - 4, small.cols, small.rows)));
    cv::cvtColor(frame, frame, cv::COLOR_GRAY2BGR);
    cv::CascadeClassifier cascade("haarcascade_frontalface_alt.xml");
    cv::Mat seen = frame.clone();  // the mode looks at the contrast-stretched frame
    stretchToFullRange(seen);
    const cv::Rect f = detectFaceInImage(seen, cascade);
    ASSERT_GT(f.width, 10);
    recordBoth(frame);
    run(" m");

    // Both cameras see the same face: each pair moves by its own formula.
    ASSERT_LT(120 - f.height / 2 - f.y, -20) << "the face must be low enough to tilt";
    ASSERT_GT(320 - 2 * f.x - f.width, 30) << "and far enough left to pan";
    const int xk = 1400 + 3 + (320 - f.x) / 12;
    const int xd = 1400 + 5 + f.x / 8;
    const int y = 1850 + 5 + f.y / 10;
    const int speedY = std::min(f.y / 2 + 500, 600);
    const Lines expected = {"#7 P1400 S400 |", "#0 P1850 S300 |",
                            "#7 P" + std::to_string((xk + xd) / 2) + " S600 |",
                            "#0 P" + std::to_string(y) + " S" + std::to_string(speedY) + " |"};
    simulator.waitForLines(6);
    EXPECT_EQ(servoCommands(simulator), expected);
    // The second frame moved both pairs once more.
    EXPECT_EQ(servo_xksen, 1400 + 2 * (xk - 1400));
    EXPECT_EQ(servo_xdsen, 1400 + 2 * (xd - 1400));
}

TEST_F(FaceRecognitionMode, KeySCentresEveryPairWithTheCentringSpeeds) {
    robotest::Ssc32Simulator simulator(dir.path());
    connectServos(simulator);
    learnPersons("1_Ona", "2_Petras");
    recordBoth(background());
    servo_xk = 1000, servo_xd = 1100, servo_yk = 2000, servo_xksen = 900;
    keyPressed = 's';
    run("m");
    simulator.waitForLines(5);
    const Lines commands = servoCommands(simulator);
    ASSERT_GE(commands.size(), 2u);
    // The speeds 700 and 500 are sent as the controller's limits allow.
    EXPECT_EQ(Lines(commands.begin(), commands.begin() + 2), (Lines{"#7 P1400 S600 |", "#0 P1850 S500 |"}));
    for (auto* pan : {&servo_x, &servo_xk, &servo_xd, &servo_xksen, &servo_xdsen}) EXPECT_EQ(*pan, 1400);
    for (auto* tilt : {&servo_y, &servo_yk, &servo_yd, &servo_yksen, &servo_ydsen}) EXPECT_EQ(*tilt, 1850);
}

TEST_F(FaceRecognitionMode, NobodySeenCallsOutWatchesForMotionAndGivesUpAtTheSixthTimeOut) {
    robotest::Ssc32Simulator simulator(dir.path());
    connectServos(simulator);
    learnPersons("1_Ona", "2_Petras");
    facetest::writeCameraRecording(1, {background()});
    cameraWithoutFrames(2);
    ASSERT_GT(missingCameraPauseMs(), 7000);
    const long long start = platform::nowMs();
    VeidoAtpazinimas();  // no keys: only the search ends it
    const long long elapsed = platform::nowMs() - start;

    EXPECT_EQ(spoken(kCallOut), 6);
    EXPECT_EQ(text(56), "   paieskos_skaitliukas= 5");
    // 15 s before the first call-out, 13 s before each later one, and five motion
    // watches of 10 s in between.
    EXPECT_GE(elapsed, 15000 + 5 * 13000 + 5 * 10000);
    const Lines centred = {"#7 P1400 S600 |", "#0 P1850 S500 |"};
    const Lines commands = servoCommandsEndingWith(simulator, centred);
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(Lines(commands.end() - 2, commands.end()), centred);
    // The third and later searches look around: the head went elsewhere first.
    EXPECT_TRUE(std::any_of(commands.begin(), commands.end(),
                            [](const std::string& c) { return c.rfind("#7 P1400 ", 0) != 0 && c[1] == '7'; }));
    EXPECT_EQ(senasVeidas, "    ");
}

TEST_F(FaceRecognitionMode, KeyMDuringTheMotionWatchEndsTheModeToo) {
    learnPersons("1_Ona", "2_Petras");
    facetest::writeCameraRecording(1, {background()});
    cameraWithoutFrames(2);
    ASSERT_GT(missingCameraPauseMs(), 7500);
    // Two frames (about 0 and 9 s), the third starts the search; m in the watch.
    run("  m");
    EXPECT_EQ(spoken(kCallOut), 1);
    EXPECT_EQ(keyPressed & 0xFF, 'm');
}

TEST_F(FaceRecognitionMode, DisplayKeysSwitchTheWindowsOffAndOn) {
    learnPersons("1_Ona", "2_Petras");
    recordBoth(face(3, 2));
    keyPressed = 'n';
    run("  e m");
    // The notice, then nothing while off; e shows the next two frames again.
    EXPECT_EQ(ekranorezimas, 1);
    EXPECT_EQ(ui::showCount("Desine"), 1 + 2);
    EXPECT_EQ(ui::showCount("Kaire"), 1 + 2);
}

TEST_F(FaceRecognitionMode, CameraWithoutFramesIsSkippedWhileTheOtherIsFollowed) {
    learnPersons("1_Ona", "2_Petras");
    facetest::writeCameraRecording(1, {face(3, 1)});
    cameraWithoutFrames(2);
    run(" m");
    EXPECT_EQ(spoken("eSpeak.exe -v lv+m4   _Ona"), 1);
    EXPECT_EQ(ui::showCount("Kaire"), 0);
}

// Without the database: the exit-recognition-without-database screen.
TEST_F(FaceRecognitionMode, MissingCascadeEndsTheProgram) {
    learnPersons("1_Ona", "2_Petras");
    std::filesystem::remove("haarcascade_frontalface_alt.xml");
    EXPECT_EQ(robotest::programEndStatus(VeidoAtpazinimas), 1);
}

// Ona in the first frame, Petras in the others, 40 ms apart: the display mode 2
// recognises every frame, the others one frame in 500 ms.
TEST_F(FaceRecognitionMode, RecognitionRunsEveryFrameOnlyInDisplayModeTwo) {
    learnPersons("1_Ona", "2_Petras");
    std::vector<cv::Mat> frames(14, face(4, 1));
    frames[0] = face(3, 1);
    facetest::writeCameraRecording(1, frames);
    facetest::writeCameraRecording(2, frames);
    const std::string ona = greetingCommand("1_Ona"), petras = greetingCommand("2_Petras");
    const struct {
        int display, frames;
        Lines greetings;
    } cases[] = {{2, 2, {ona, petras}}, {1, 13, {ona}}, {1, 14, {ona, petras}}, {0, 14, {ona, petras}}};
    for (const auto& c : cases) {
        platform::clearRecordedCommands();
        senasVeidas = std::string(20, ' ');
        ekranorezimas = c.display;
        keyPressed = kKeyMenuRead;
        platform::scriptKeys(std::string(static_cast<std::size_t>(c.frames - 1), ' ') + "m");
        VeidoAtpazinimas();
        Lines greetings;
        for (const std::string& command : platform::recordedCommands())
            if (command == ona || command == petras) greetings.push_back(command);
        EXPECT_EQ(greetings, c.greetings) << "display " << c.display << ", " << c.frames << " frames";
    }
}

// The steps of one frame on their own.
class FaceRecognitionSteps : public FaceRecognitionMode {};

TEST_F(FaceRecognitionSteps, DistanceIsShownOnlyForFacesOfAboutTheSameWidth) {
    for (const auto& [other, shown] : {std::pair{98, true}, {105, false}, {96, true}}) {
        gf.printAt(1, 48, "%60s", "");
        showFaceDistance(100, other);
        EXPECT_EQ(text(48), shown ? "      Atstumas(cm) : 95.000000" : "") << other;
    }
}

TEST_F(FaceRecognitionSteps, GreetingMemoryAsksUnknownFacesEverySevenSecondsAndGreetsNewcomersAtOnce) {
    Greeting greeting;
    greeting.greetTime = -100000;
    askUnknownPerson(greeting, "1_Ona", 0);
    askUnknownPerson(greeting, "1_Ona", 7000);  // exactly 7 s: not yet
    EXPECT_EQ(spoken(kWhoAreYou), 1);
    EXPECT_EQ(naujasVeidas, "Nezinomas");
    askUnknownPerson(greeting, "1_Ona", 7001);
    EXPECT_EQ(spoken(kWhoAreYou), 2);

    greetKnownPerson(greeting, "1_Ona", 7100);  // right after the question
    EXPECT_EQ(spoken("eSpeak.exe -v lv+m4   _Ona"), 1);
    // Within 3 s of a greeting an uncertain look keeps the name, and is not asked.
    askUnknownPerson(greeting, "1_Ona", 9000);
    EXPECT_EQ(naujasVeidas, "1_Ona");
    EXPECT_EQ(spoken(kWhoAreYou), 2);
    greetKnownPerson(greeting, "1_Ona", 9100);
    EXPECT_EQ(spoken("eSpeak.exe -v lv+m4   _Ona"), 1);
}

TEST_F(FaceRecognitionSteps, SpokenNameLosesOnlyItsIdDigitsAndReachesTheSynthesiserWhole) {
    EXPECT_EQ(greetingCommand("123_Ona2"), "eSpeak.exe -v lv+m4     _Ona2");
    const auto argv = platform::commandLineToArgv(greetingCommand("5_Ona; rm -rf x"));
    ASSERT_FALSE(argv.empty());
    EXPECT_EQ(argv.back(), "_Ona; rm -rf x");
}

}  // namespace
