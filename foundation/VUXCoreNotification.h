// Synchronous notifications: a notification names what happened by a class code and a type code
// (four-character codes) and may carry a parameter pointer and its sender; a sender forwards
// notifications to one dispatcher; a dispatcher hands each notification to its observers in the
// order they were added, on the caller's thread, until one consumes it; an observer calls a plain
// callback with user data. Nobody owns anybody here: whoever creates an observer removes it from
// its dispatcher before deleting it.
#pragma once

#include "VUXContainer.h"
#include "VUXObject.h"
#include "VUXRawData.h"

#include <cstdint>
#include <iosfwd>

namespace VUX {

class VUXBaseNotification : public VUXObject {
  public:
    VUXBaseNotification();
    // Type first, class second; no params.
    VUXBaseNotification(uint32_t type, uint32_t notificationClass, VUXObject* sender);
    VUXBaseNotification(VUXBaseNotification const& other);
    ~VUXBaseNotification() override;
    VUXBaseNotification& operator=(VUXBaseNotification const& other);

    static const char* objectName() { return "VUXBaseNotification"; }

    // References, so that a holder can change the codes in place.
    uint32_t& notificationClass() { return _codes.left; }
    uint32_t const& notificationClass() const { return _codes.left; }
    uint32_t& notificationType() { return _codes.right; }
    uint32_t const& notificationType() const { return _codes.right; }
    void* notificationParams() const { return _params; }
    void notificationParams(void* params) { _params = params; }
    VUXObject*& sender() { return _sender; }
    VUXObject* const& sender() const { return _sender; }

    using VUXObject::error;
    virtual void error(int32_t err);

    const char* className() const override;
    bool isA(const char* name) const override;
    // A notification of type 0 is invalid.
    bool isValid() const override;
    // Codes and params back to 0; the sender is kept.
    void defaultStatus() override;

  protected:
    VUXObject* _clone() const override;
    void _readableDescription(std::ostream& stream) const override;
    // Both take `other` as a VUXBaseNotification: anything else raises std::bad_cast.
    bool _compare(VUXObject const& other) const override;
    void _copy(VUXObject const& other) override;

    VUXPair<uint32_t, uint32_t> _codes; // class, type
    void* _params;
    VUXObject* _sender;
};

class VUXBaseNotificationDispatcher;

class VUXBaseNotificationSender {
  public:
    VUXBaseNotificationSender() = default;
    VUXBaseNotificationSender(VUXBaseNotificationSender const&) = default;
    VUXBaseNotificationSender& operator=(VUXBaseNotificationSender const&) = default;
    virtual ~VUXBaseNotificationSender();

    // The dispatcher's answer, or false without a dispatcher.
    virtual bool sendNotification(VUXBaseNotification const& notification) const;
    virtual VUXBaseNotificationDispatcher const* dispatcher() const;
    virtual void dispatcher(VUXBaseNotificationDispatcher const* dispatcher);

  protected:
    VUXBaseNotificationDispatcher const* _dispatcher = nullptr;
};

using VUXNotificationCallback = void (*)(VUXBaseNotification const& notification, void* userData);

class VUXBaseNotificationObserver {
  public:
    VUXBaseNotificationObserver() = default;
    VUXBaseNotificationObserver(VUXBaseNotificationObserver const& other) = default;
    VUXBaseNotificationObserver& operator=(VUXBaseNotificationObserver const& other) = default;
    virtual ~VUXBaseNotificationObserver();

    // Calls the callback for a valid notification. A plain observer never consumes a
    // notification (false); a subclass that answers true ends the delivery.
    virtual bool handleNotification(VUXBaseNotification const& notification);
    virtual VUXNotificationCallback callback() const;
    virtual void callback(VUXNotificationCallback callback);
    virtual void* userData() const;
    virtual void userData(const void* userData);

  protected:
    VUXNotificationCallback _callback = nullptr;
    void* _userData = nullptr;
};

class VUXBaseNotificationDispatcher : public VUXObject {
  public:
    VUXBaseNotificationDispatcher();
    ~VUXBaseNotificationDispatcher() override;

    static const char* objectName() { return "VUXBaseNotificationDispatcher"; }

    virtual int64_t count() const;
    // Appends an observer that is not yet registered; a null observer is refused with -107.
    virtual bool add(VUXBaseNotificationObserver* observer);
    // An observer that is not registered is ignored.
    virtual void remove(VUXBaseNotificationObserver* observer);
    // Delivers to each observer in the order they were added until one consumes it; true when
    // one did. An observer may remove itself or others while it is called.
    virtual bool postNotification(VUXBaseNotification const& notification) const;

    const char* className() const override;
    bool isA(const char* name) const override;
    bool isValid() const override;
    // Error 0 and the observers forgotten (not deleted).
    void defaultStatus() override;

  protected:
    void _readableDescription(std::ostream& stream) const override;

    VUXList<VUXBaseNotificationObserver*> _observers;
};

} // namespace VUX
