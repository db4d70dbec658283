// Two small callback holders through which long operations and services report to their owner:
// an events handler that forwards events named by four-character codes, and a progress notifier
// that forwards a progress fraction. Neither owns its callback or its reference value.
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformTypes.h"

// (event code, event data, parameter, reference value)
using Kelvo_EventsCallback = void (*)(uint32_t event, void* data, int32_t parameter, void* reference);
// (progress, reference value, code)
using Kelvo_ProgressCallback = void (*)(double progress, void* reference, int32_t code);

// An error: the parameter is the error code, the data null.
constexpr uint32_t kKelvoEventError = FOUR_CHAR_CODE("KVER");
// Progress: the data is the address of a double holding the progress, the parameter 0.
constexpr uint32_t kKelvoEventProgress = FOUR_CHAR_CODE("KVPR");

class Kelvo_BaseEventsHandler : public Kelvo_QTObj {
  public:
    Kelvo_BaseEventsHandler() = default;
    Kelvo_BaseEventsHandler(const Kelvo_BaseEventsHandler& other);
    Kelvo_BaseEventsHandler& operator=(const Kelvo_BaseEventsHandler& other);

    const char* qtObjName() const override { return "Kelvo_BaseEventsHandler"; }
    using Kelvo_QTObj::qtObjIsValid;
    // Valid when a callback is set.
    bool qtObjIsValid() override { return _callback != nullptr; }
    void defaultStatus() override;
    // Takes over both fields of another handler; anything else is ignored.
    void copy(Kelvo_QTObj& source) override;
    bool isA(const char* name) const override;

    // Virtual operations after those of Kelvo_QTObj, in slot order.
    virtual void getEventsHandler(Kelvo_EventsCallback& callback, void*& reference);
    virtual void setEventsHandler(Kelvo_EventsCallback callback, void* reference);
    virtual void notifyEvent(uint32_t event, void* data, int32_t parameter) const;
    virtual void notifyError(int32_t error);
    // The data pointer handed to the callback is valid only during the call.
    virtual void notifyProgress(double progress);

  protected:
    void* _reference = nullptr;
    Kelvo_EventsCallback _callback = nullptr;
};

class Kelvo_ProgressNotifier : public Kelvo_QTObj {
  public:
    Kelvo_ProgressNotifier() = default;
    Kelvo_ProgressNotifier(Kelvo_ProgressCallback callback, void* reference)
        : _callback(callback), _reference(reference) {}
    Kelvo_ProgressNotifier(const Kelvo_ProgressNotifier& other)
        : Kelvo_QTObj(other), _callback(other._callback), _reference(other._reference) {}
    Kelvo_ProgressNotifier& operator=(const Kelvo_ProgressNotifier& other);

    const char* qtObjName() const override { return "Kelvo_ProgressNotifier"; }
    using Kelvo_QTObj::qtObjIsValid;
    bool qtObjIsValid() override { return _callback != nullptr; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;

    void initialize(const Kelvo_ProgressNotifier& other);
    void Initialize(Kelvo_ProgressCallback callback, void* reference);
    Kelvo_ProgressCallback callback() const { return _callback; }
    void* reference() const { return _reference; }

    void Call(double progress, int32_t code);
    // Stores the code as the status: the owner of a long operation reads it to stop.
    void CallAbort(int32_t code) { _status = code; }

  protected:
    Kelvo_ProgressCallback _callback = nullptr;
    void* _reference = nullptr;
};
