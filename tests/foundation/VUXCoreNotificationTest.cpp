#include "VUXCoreIdling.h"
#include "VUXCoreNotification.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace VUX;

struct Delivery {
    uint32_t notificationClass;
    uint32_t type;
    void* params;
    VUXObject* sender;
};

// Records what it sees; answers true (consumes) when told to.
class Recorder : public VUXBaseNotificationObserver {
  public:
    Recorder(std::vector<int>* order, int id, bool consume = false)
        : _order(order), _id(id), _consume(consume) {
        callback([](VUXBaseNotification const& n, void* self) {
            static_cast<Recorder*>(self)->seen.push_back(
                {n.notificationClass(), n.notificationType(), n.notificationParams(), n.sender()});
        });
        userData(this);
    }
    bool handleNotification(VUXBaseNotification const& n) override {
        if (_order) _order->push_back(_id);
        VUXBaseNotificationObserver::handleNotification(n);
        return _consume;
    }
    std::vector<Delivery> seen;

  private:
    std::vector<int>* _order;
    int _id;
    bool _consume;
};

TEST(VUXNotifications, DeliveryOrderAndConsumption) {
    VUXBaseNotificationDispatcher dispatcher;
    const VUXBaseNotification note(7, 9, nullptr);
    EXPECT_FALSE(dispatcher.postNotification(note));

    std::vector<int> order;
    Recorder a(&order, 1), b(&order, 2), c(&order, 3);
    EXPECT_TRUE(dispatcher.add(&a));
    EXPECT_TRUE(dispatcher.add(&b));
    EXPECT_TRUE(dispatcher.add(&c));
    EXPECT_FALSE(dispatcher.add(&a)); // already there
    EXPECT_EQ(dispatcher.count(), 3);
    EXPECT_FALSE(dispatcher.postNotification(note));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    ASSERT_EQ(c.seen.size(), 1u);
    EXPECT_EQ(c.seen[0].type, 7u);
    EXPECT_EQ(c.seen[0].notificationClass, 9u);

    // A notification of type 0 is invalid: every observer is visited, no callback runs.
    order.clear();
    EXPECT_FALSE(dispatcher.postNotification(VUXBaseNotification(0, 9, nullptr)));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(a.seen.size(), 1u);

    VUXBaseNotificationDispatcher consuming;
    std::vector<int> order2;
    Recorder x(&order2, 1), y(&order2, 2, true), z(&order2, 3);
    consuming.add(&x);
    consuming.add(&y);
    consuming.add(&z);
    EXPECT_TRUE(consuming.postNotification(note));
    EXPECT_EQ(order2, (std::vector<int>{1, 2}));
    EXPECT_TRUE(z.seen.empty());

    Recorder stranger(nullptr, 9);
    dispatcher.remove(&stranger);
    EXPECT_EQ(dispatcher.count(), 3);
    dispatcher.remove(&b);
    EXPECT_EQ(dispatcher.count(), 2);
    EXPECT_FALSE(dispatcher.add(nullptr));
    EXPECT_EQ(dispatcher.error(), -107);
    dispatcher.defaultStatus();
    EXPECT_EQ(dispatcher.count(), 0);

    VUXBaseNotificationSender lonely;
    EXPECT_FALSE(lonely.sendNotification(note));
}

TEST(VUXNotifications, ObserverLeavingDuringDelivery) {
    VUXBaseNotificationDispatcher dispatcher;
    struct Leaver : VUXBaseNotificationObserver {
        VUXBaseNotificationDispatcher* from = nullptr;
        int calls = 0;
        bool handleNotification(VUXBaseNotification const&) override {
            ++calls;
            from->remove(this);
            return false;
        }
    } leaver;
    leaver.from = &dispatcher;
    std::vector<int> order;
    Recorder last(&order, 2);
    dispatcher.add(&leaver);
    dispatcher.add(&last);
    dispatcher.postNotification(VUXBaseNotification(1, 1, nullptr));
    EXPECT_EQ(leaver.calls, 1);
    EXPECT_EQ(dispatcher.count(), 1);
    dispatcher.postNotification(VUXBaseNotification(1, 1, nullptr));
    EXPECT_EQ(leaver.calls, 1);
    EXPECT_EQ(last.seen.size(), 1u);
}

TEST(VUXNotifications, ValuesAndDescriptions) {
    VUXObject sender;
    VUXBaseNotification n(0x41555450, 0x49444C45, &sender);
    EXPECT_TRUE(n.isValid());
    VUXBaseNotification copy(n);
    EXPECT_TRUE(copy == n);
    int params = 0;
    copy.notificationParams(&params);
    EXPECT_FALSE(copy == n);
    copy.notificationType() = 0;
    EXPECT_FALSE(copy.isValid());
    copy.defaultStatus();
    EXPECT_EQ(copy.notificationClass(), 0u);
    EXPECT_EQ(copy.sender(), &sender); // the sender is kept
    copy.error(-3);
    EXPECT_EQ(copy.error(), -3);

    std::ostringstream out;
    VUXBaseNotification plain(5, 6, nullptr);
    plain.readableDescription(out);
    out << 255; // the caller's stream keeps its decimal base
    std::string d = out.str();
    const size_t x = d.find(" uid=\"");
    d.erase(x, d.find('"', x + 6) + 1 - x);
    EXPECT_EQ(
        d, "<Object\tclass=VUXBaseNotification valid=\"YES\" Error=\"0\">\n<class>6</class>\n<type>5</type>\n"
           "<addressParams>0</addressParams>\n<sender/>\n</Object>\n255");

    std::ostringstream withSender;
    n.readableDescription(withSender);
    EXPECT_NE(withSender.str().find(std::string("<sender>VUXObject ") + sender.uid() + "</sender>\n"),
              std::string::npos);

    VUXBaseNotificationDispatcher dispatcher;
    Recorder r(nullptr, 1);
    dispatcher.add(&r);
    std::ostringstream listeners;
    dispatcher.readableDescription(listeners);
    EXPECT_NE(listeners.str().find("\">\nListeners=1;\n</Object>\n"), std::string::npos);
}

class CountingIdler : public VUXBaseIdler {
  public:
    int autoChanges = 0, periodChanges = 0;

  protected:
    void _autoIdlingDidChange() override { ++autoChanges; }
    void _idlingPeriodDidChange() override { ++periodChanges; }
};

TEST(VUXIdlers, AnnouncementsAndHooks) {
    CountingIdler idler;
    EXPECT_TRUE(idler.isA("VUXIdler"));
    EXPECT_TRUE(idler.isA("VUXBaseNotificationSender"));
    EXPECT_FALSE(idler.autoIdlingEnabled());
    EXPECT_EQ(idler.idlingPeriod(), 0.0);

    // Without a dispatcher every setter stores and calls its hook.
    idler.autoIdlingEnabled(true);
    idler.idlingPeriod(2.0);
    idler.idle();
    EXPECT_EQ(idler.autoChanges, 1);
    EXPECT_EQ(idler.periodChanges, 1);
    idler.autoIdlingEnabled(true); // no change: no hook
    EXPECT_EQ(idler.autoChanges, 1);

    VUXBaseNotificationDispatcher dispatcher;
    Recorder r(nullptr, 1);
    dispatcher.add(&r);
    idler.dispatcher(&dispatcher);
    idler.autoIdlingEnabled(false);
    idler.autoIdlingEnabled(true);
    ASSERT_EQ(r.seen.size(), 2u);
    EXPECT_EQ(r.seen[1].notificationClass, kVUXIdleNotificationClass);
    EXPECT_EQ(r.seen[1].type, kVUXAutoIdlingNotification);
    EXPECT_EQ(*static_cast<bool*>(r.seen[1].params), true);
    EXPECT_EQ(r.seen[1].sender, static_cast<VUXObject*>(&idler));

    idler.idlingPeriod(0.5);
    idler.idle();
    ASSERT_EQ(r.seen.size(), 4u);
    EXPECT_EQ(r.seen[2].type, kVUXIdlingPeriodNotification);
    EXPECT_EQ(r.seen[3].type, kVUXIdleNotification);
    EXPECT_EQ(*static_cast<double*>(r.seen[3].params), 0.5); // still the period's params
    idler.idlingPeriod(0.5);
    EXPECT_EQ(r.seen.size(), 4u);
    idler.idlingPeriod(std::nan(""));
    idler.idlingPeriod(std::nan(""));
    EXPECT_EQ(r.seen.size(), 6u); // NaN never equals: always a change

    idler.defaultStatus();
    EXPECT_FALSE(idler.autoIdlingEnabled());
    EXPECT_EQ(r.seen.size(), 6u);
}

} // namespace
