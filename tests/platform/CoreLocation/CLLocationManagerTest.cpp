#include "platform/CoreLocation/CLLocationManager.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/RunLoopTesting.h"

namespace {

class RecordingDelegate : public CLLocationManagerDelegate {
  public:
    bool respondsToLocationManagerDidUpdateToLocationFromLocation() const override {
        return responds;
    }
    void locationManagerDidUpdateToLocationFromLocation(
        CLLocationManager& manager, const std::shared_ptr<CLLocation>& newLocation,
        const std::shared_ptr<CLLocation>& oldLocation) override {
        fixes.push_back(newLocation);
        olds.push_back(oldLocation);
        if (stopOnFirst)
            manager.stopUpdatingLocation();
    }
    bool responds = true;
    bool stopOnFirst = false;
    std::vector<std::shared_ptr<CLLocation>> fixes;
    std::vector<std::shared_ptr<CLLocation>> olds;
};

class CLLocationManagerTest : public testing::Test {
  protected:
    CLLocationManagerTest() {
        CLLocationManager::resetDeviceLocation();
        manager->setDelegate(delegate);
    }
    ~CLLocationManagerTest() override { CLLocationManager::resetDeviceLocation(); }

    ManualClockScope time;
    std::shared_ptr<CLLocationManager> manager = CLLocationManager::init();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

TEST_F(CLLocationManagerTest, CachedFixKeepsItsTimeStampAndIsSharedByEveryManager) {
    EXPECT_EQ(manager->location(), nullptr);
    auto old =
        CLLocation::initWithCoordinate({48.5, 9.25}, NSDate::dateWithTimeIntervalSinceNow(-600));
    CLLocationManager::deliverLocation(old);
    auto other = CLLocationManager::init();
    ASSERT_EQ(other->location(), old);
    EXPECT_DOUBLE_EQ(other->location()->coordinate().latitude, 48.5);
    EXPECT_DOUBLE_EQ(other->location()->timestamp().timeIntervalSinceNow(), -600);
}

TEST_F(CLLocationManagerTest, ServicesSwitchIsPhoneWide) {
    EXPECT_TRUE(manager->locationServicesEnabled());
    CLLocationManager::setLocationServicesEnabled(false);
    EXPECT_FALSE(CLLocationManager::init()->locationServicesEnabled());
}

TEST_F(CLLocationManagerTest, UpdatingManagerHearsOfFixesOnTheMainRunLoopOnly) {
    CLLocationManager::deliverLocation(1, 2);  // not updating yet
    manager->startUpdatingLocation();
    CLLocationManager::deliverLocation(3, 4);
    EXPECT_TRUE(delegate->fixes.empty()) << "delivered before the run loop ran";
    time.runDue();
    ASSERT_EQ(delegate->fixes.size(), 1u);
    EXPECT_DOUBLE_EQ(delegate->fixes[0]->coordinate().longitude, 4);
    ASSERT_NE(delegate->olds[0], nullptr);
    EXPECT_DOUBLE_EQ(delegate->olds[0]->coordinate().latitude, 1);
}

TEST_F(CLLocationManagerTest, StoppingEndsTheUpdatesEvenForFixesAlreadyPosted) {
    delegate->stopOnFirst = true;
    manager->startUpdatingLocation();
    CLLocationManager::deliverLocation(1, 1);
    CLLocationManager::deliverLocation(2, 2);
    time.runDue();
    EXPECT_EQ(delegate->fixes.size(), 1u);
    EXPECT_FALSE(manager->isUpdatingLocation());
    CLLocationManager::deliverLocation(3, 3);
    time.runDue();
    EXPECT_EQ(delegate->fixes.size(), 1u);
    EXPECT_DOUBLE_EQ(manager->location()->coordinate().latitude, 3);
}

TEST_F(CLLocationManagerTest, DelegateThatDoesNotRespondOrIsGoneIsNotTold) {
    delegate->responds = false;
    manager->startUpdatingLocation();
    CLLocationManager::deliverLocation(1, 1);
    time.runDue();
    EXPECT_TRUE(delegate->fixes.empty());
    delegate->responds = true;
    CLLocationManager::deliverLocation(2, 2);
    manager.reset();  // the posted update finds no manager
    time.runDue();
    EXPECT_TRUE(delegate->fixes.empty());
}

}  // namespace
