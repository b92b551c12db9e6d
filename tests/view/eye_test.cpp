// Moving the eye of a ReliefView and of the StandaloneEngine.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "standalone/standalone_engine.h"
#include "view_fixture.h"

namespace qrv::testing {
namespace {

class EyeTest : public ViewTest {
protected:
    void TearDown() override {
        standalone::engine = standalone::StandaloneEngine{};
        ViewTest::TearDown();
    }
    // Repeats a step until it is refused; returns how many were accepted.
    int StepsAccepted(float dx, float dy, float dz) {
        for (int n = 0; n < 1000; ++n) {
            const D3DXVECTOR3 before = view->eye;
            _QRV3DMoveEye(handle, dx, dy, dz);
            if (view->eye.x == before.x && view->eye.y == before.y && view->eye.z == before.z)
                return n;
        }
        return -1;
    }
};

TEST_F(EyeTest, StepLimitsFromTheDefaultEye) {
    struct Case {
        const char *name;
        float dx, dy, dz;
        int accepted;
        float x, y, z, radius;
    };
    const Case cases[] = {
        {"sideways to the rim", 0.1f, 0, 0, 25, 2.5f, 0, -0.001f, 2.5f},
        {"up to the rim", 0, 0.1f, 0, 25, 0, 2.5f, -0.001f, 2.5f},
        {"nearer", 0, 0, 0.1f, 15, 0, 0, -1.0f, 1.0f},
        {"farther", 0, 0, -0.1f, 74, 0, 0, -9.9f, 9.9f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        view->ResetState(true);
        EXPECT_EQ(StepsAccepted(c.dx, c.dy, c.dz), c.accepted);
        EXPECT_NEAR(view->eye.x, c.x, 1e-5);
        EXPECT_NEAR(view->eye.y, c.y, 1e-5);
        EXPECT_NEAR(view->eye.z, c.z, 1e-3);
        EXPECT_NEAR(view->eyeDistance, c.radius, 1e-5);
        EXPECT_LE(view->eye.z, 0.0f);
    }
}

TEST_F(EyeTest, WorkedExampleAndOrderOfParts) {
    _QRV3DMoveEye(handle, 0.1f, 0, 0);
    EXPECT_FLOAT_EQ(view->eye.x, 0.1f);
    EXPECT_NEAR(view->eye.z, -2.4980, 1e-4);
    EXPECT_FLOAT_EQ(view->eyeDistance, 2.5f);
    _QRV3DMoveEye(handle, 0, 0, 0.1f);
    EXPECT_NEAR(view->eye.z, -2.3980, 1e-4);
    EXPECT_NEAR(view->eyeDistance, 2.4001, 1e-4);

    // x goes first, and y is tested against the new x.
    view->ResetState(true);
    _QRV3DMoveEye(handle, 2.0f, 1.6f, 0);
    EXPECT_FLOAT_EQ(view->eye.x, 2.0f);
    EXPECT_FLOAT_EQ(view->eye.y, 0.0f);
    // A refused x part still lets y move.
    view->ResetState(true);
    _QRV3DMoveEye(handle, 3.0f, 1.0f, 0);
    EXPECT_FLOAT_EQ(view->eye.x, 0.0f);
    EXPECT_FLOAT_EQ(view->eye.y, 1.0f);
    EXPECT_NEAR(view->eye.z, -std::sqrt(5.25f), 1e-6);
}

TEST_F(EyeTest, RefusedSteps) {
    // z steps landing exactly on -1 or -10 are refused.
    view->eye = {0, 0, -2.0f};
    view->eyeDistance = 2.0f;
    _QRV3DMoveEye(handle, 0, 0, 1.0f);
    EXPECT_EQ(view->eye.z, -2.0f);
    _QRV3DMoveEye(handle, 0, 0, -8.0f);
    EXPECT_EQ(view->eye.z, -2.0f);

    // Not-a-number steps change nothing.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    _QRV3DMoveEye(handle, nan, nan, nan);
    EXPECT_EQ(view->eye.x, 0.0f);
    EXPECT_EQ(view->eye.y, 0.0f);
    EXPECT_EQ(view->eye.z, -2.0f);
    EXPECT_EQ(view->eyeDistance, 2.0f);

    // Near the rim z is above -1: nearer is refused, and farther too unless it
    // takes z below -1.
    view->ResetState(true);
    for (int i = 0; i < 25; ++i) _QRV3DMoveEye(handle, 0.1f, 0, 0);
    const float rimZ = view->eye.z;
    ASSERT_GT(rimZ, -1.0f);
    _QRV3DMoveEye(handle, 0, 0, 0.1f);
    _QRV3DMoveEye(handle, 0, 0, -0.1f);
    EXPECT_EQ(view->eye.z, rimZ);
    _QRV3DMoveEye(handle, 0, 0, -1.5f);
    EXPECT_NEAR(view->eye.z, rimZ - 1.5f, 1e-6);
    EXPECT_NEAR(view->eyeDistance, std::sqrt(2.5f * 2.5f + view->eye.z * view->eye.z), 1e-3);
}

TEST_F(EyeTest, StandaloneEyeAndMoveTest) {
    // MoveTest answers for the StandaloneEngine's sphere of radius 5.
    EXPECT_TRUE(MoveTest(0, 0));
    EXPECT_FALSE(MoveTest(3, 4));
    EXPECT_TRUE(MoveTest(3, 3.9f));
    // The view's own test uses the view's radius.
    EXPECT_TRUE(view->MoveTest(2.4f, 0));
    EXPECT_FALSE(view->MoveTest(2.5f, 0));

    // Handle 1 steps the StandaloneEngine's eye and leaves the view's alone.
    _QRV3DMoveEye(1, 0.1f, 0, 0);
    EXPECT_FLOAT_EQ(standalone::engine.eye.x, 0.1f);
    EXPECT_FLOAT_EQ(standalone::engine.eye.y, 3.0f);
    EXPECT_NEAR(standalone::engine.eye.z, -std::sqrt(25.0f - 0.01f - 9.0f), 1e-6);
    EXPECT_EQ(view->eye.x, 0.0f);
    _QRV3DMoveEye(1, 0, 0, -1.0f);
    EXPECT_GT(standalone::engine.eyeDistance, 5.0f);
    EXPECT_TRUE(MoveTest(3, 4)); // the sphere grew

    standalone::ResetEye();
    EXPECT_EQ(standalone::engine.eye.x, 0.0f);
    EXPECT_EQ(standalone::engine.eye.z, -4.0f);
    EXPECT_EQ(standalone::engine.eyeDistance, 5.0f);

    // Handle 0 moves nothing anywhere.
    _QRV3DMoveEye(0, 0.1f, 0.1f, 0.1f);
    EXPECT_EQ(standalone::engine.eye.x, 0.0f);
    EXPECT_EQ(view->eye.x, 0.0f);
    EXPECT_EQ(view->eye.z, -2.5f);
}

} // namespace
} // namespace qrv::testing
