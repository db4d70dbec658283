// The foundation's idling interface and its base implementation. An idler keeps an auto-idling
// flag and an idling period and announces each change of either, and each call of idle(),
// through its dispatcher (class 'IDLE'; type 'AUTO', 'TIME' or 'IDLE'). It has no timer of its
// own: a holder that wants periodic idling calls idle() itself.
#pragma once

#include "VUXCoreNotification.h"
#include "VUXObject.h"

#include <cstdint>

namespace VUX {

constexpr uint32_t kVUXIdleNotificationClass = 0x49444C45;    // 'IDLE'
constexpr uint32_t kVUXIdleNotification = 0x49444C45;         // 'IDLE'
constexpr uint32_t kVUXAutoIdlingNotification = 0x4155544F;   // 'AUTO'
constexpr uint32_t kVUXIdlingPeriodNotification = 0x54494D45; // 'TIME'

class VUXIdler {
  public:
    virtual ~VUXIdler();
    virtual void idle() = 0;
    virtual bool autoIdlingEnabled() const = 0;
    virtual void autoIdlingEnabled(bool enabled) = 0;
    virtual double idlingPeriod() const = 0;
    virtual void idlingPeriod(double period) = 0;
};

class VUXBaseIdler : public VUXObject, public VUXIdler, public VUXBaseNotificationSender {
  public:
    VUXBaseIdler();
    // The notification names its idler as sender: an idler is not copied.
    VUXBaseIdler(VUXBaseIdler const&) = delete;
    VUXBaseIdler& operator=(VUXBaseIdler const&) = delete;
    ~VUXBaseIdler() override;

    static const char* objectName() { return "VUXBaseIdler"; }

    bool autoIdlingEnabled() const override;
    // A change is stored, announced ('AUTO', params: the flag) and handed to the hook.
    void autoIdlingEnabled(bool enabled) override;
    double idlingPeriod() const override;
    // A change is stored, announced ('TIME', params: the period) and handed to the hook. NaN
    // never equals the current period, so setting it always counts as a change.
    void idlingPeriod(double period) override;
    // Announces 'IDLE' with the params as they were.
    void idle() override;

    const char* className() const override;
    bool isA(const char* name) const override;
    // Auto-idling off and period 0, without announcement; the error is left alone.
    void defaultStatus() override;

  protected:
    virtual void _autoIdlingDidChange();
    virtual void _idlingPeriodDidChange();

  private:
    void announce(uint32_t type);

    bool _autoIdlingEnabled;
    double _idlingPeriod;
    VUXBaseNotification _notification;
};

} // namespace VUX
