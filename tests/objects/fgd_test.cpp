#include "objects/fgd.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "tests/objects/objects_test_util.h"

namespace {

// The street seen by the camera (noise 4), and the same street with a box put on the road.
TEST(ForegroundModel, ObjectPutIntoTheSceneIsCutOutWithItsBox) {
    const cv::Mat street = objtest::loadPicture("street.png", cv::IMREAD_COLOR);
    for (const cv::Rect where : {cv::Rect(200, 105, 70, 50), cv::Rect(40, 150, 90, 60), cv::Rect(150, 20, 60, 80)}) {
        cv::Mat box, scene = street.clone();
        cv::resize(objtest::loadPicture("box.png", cv::IMREAD_COLOR), box, where.size(), 0, 0, cv::INTER_AREA);
        box.copyTo(scene(where));
        FgdModel model(objtest::withNoise(street, 4, 7));
        ASSERT_TRUE(model.update(objtest::withNoise(scene, 4, 8))) << where;
        const cv::Mat& mask = model.foreground();
        ASSERT_EQ(mask.type(), CV_8UC1);
        ASSERT_EQ(mask.size(), street.size());
        std::vector<cv::Point> points;
        cv::findNonZero(mask, points);
        const cv::Rect found = cv::boundingRect(points);
        EXPECT_LE(cv::norm(found.tl() - where.tl()) + cv::norm(found.br() - where.br()), 10) << found << " for " << where;
        // The mask is the object, not a frame around it or speckle all over.
        EXPECT_GT(cv::countNonZero(mask(where)), where.area() * 8 / 10) << where;
        EXPECT_LT(cv::countNonZero(mask) - cv::countNonZero(mask(where)), where.area() / 5) << where;
    }
    for (const double sigma : {3.0, 5.0})  // camera noise alone is no object
        for (uint64_t seed = 1; seed <= 3; ++seed) {
            FgdModel model(objtest::withNoise(street, sigma, seed));
            ASSERT_TRUE(model.update(objtest::withNoise(street, sigma, seed + 100)));
            EXPECT_EQ(cv::countNonZero(model.foreground()), 0) << "sigma " << sigma << " seed " << seed;
        }
}

// A hollow frame (60 x 50, its inside 48 x 38), a 3 x 3 and a 5 x 4 speck on a flat noiseless background.
TEST(ForegroundModel, HolesAreFilledUnlessAskedAndRegionsUnderTheMinimumAreaDropped) {
    cv::Mat flat(120, 160, CV_8UC3, cv::Scalar(200, 200, 200)), scene = flat.clone();
    const cv::Rect ring(50, 30, 60, 50), hole(56, 36, 48, 38), tiny(10, 10, 3, 3), small(130, 90, 5, 4);
    scene(ring).setTo(cv::Scalar(20, 40, 160));
    scene(hole).setTo(cv::Scalar(200, 200, 200));
    scene(tiny).setTo(cv::Scalar(0, 0, 0));
    scene(small).setTo(cv::Scalar(0, 0, 0));
    for (const bool withoutHoles : {true, false}) {
        FgdParams params;
        params.is_obj_without_holes = withoutHoles;
        FgdModel model(flat, params);
        model.update(scene);
        const cv::Mat& found = model.foreground();
        EXPECT_EQ(cv::countNonZero(found(ring)), withoutHoles ? ring.area() : ring.area() - hole.area());
        EXPECT_EQ(cv::countNonZero(found), cv::countNonZero(found(ring)) + small.area()) << "the 9-pixel speck is dropped";
        EXPECT_EQ(cv::countNonZero(found(small)), small.area());
    }
}

TEST(ForegroundModel, BackgroundFollowsSlowChangesAndAnObjectOnlyOnceItStaysAndOtherSizesAreRefused) {
    cv::Mat flat(60, 80, CV_8UC3, cv::Scalar(100, 100, 100)), scene = flat.clone();
    FgdModel model(flat);
    EXPECT_FALSE(model.update(cv::Mat(30, 40, CV_8UC3, cv::Scalar(0, 0, 0))) || model.update(cv::Mat()));
    EXPECT_EQ(cv::countNonZero(model.foreground()), 0);
    FgdModel empty{cv::Mat()};
    EXPECT_FALSE(empty.update(flat));
    EXPECT_TRUE(empty.foreground().empty());
    scene(cv::Rect(20, 20, 20, 20)).setTo(cv::Scalar(250, 0, 0));
    scene(cv::Rect(60, 0, 20, 60)).setTo(cv::Scalar(102, 102, 102));  // a slight change of light
    ASSERT_TRUE(model.update(scene));
    ASSERT_EQ(model.background().type(), CV_8UC3);
    EXPECT_EQ(model.background().at<cv::Vec3b>(30, 30), cv::Vec3b(100, 100, 100));  // the object stays out
    const cv::Vec3b lit = model.background().at<cv::Vec3b>(30, 70);
    EXPECT_TRUE(lit[0] >= 100 && lit[0] <= 102) << lit;
    int frames = 1;
    for (; cv::countNonZero(model.foreground()) > 0 && frames < 1000; ++frames) model.update(scene);
    EXPECT_GT(frames, 20) << "a passing object is learnt too soon";
    EXPECT_EQ(cv::countNonZero(model.foreground()), 0) << "still foreground after " << frames << " frames";
    EXPECT_EQ(model.background().at<cv::Vec3b>(30, 30), cv::Vec3b(250, 0, 0));
}

}  // namespace
