// The component service: the common base of the services that drive one platform component for a
// task (graphics import, graphics export). It owns the connection to the component, keeps the
// component's settings as an atom container that can be written to and read from a settings
// document, reports progress through an events handler and an optional progress notifier, and
// keeps a list of background threads.
//
// The background thread runs a procedure on a detached POSIX thread over a clone of a data
// source, and reports its start, end and failure as events.
//
// Threads. A run works on its own state: the clone of the data source, a copy of the events
// handler and of the uid, and the procedure, all handed to the worker when the run starts. The
// worker never touches the thread object that started it, nor any service that lists it, so
// either can be destroyed while the worker runs; the worker then finishes its procedure, reports
// its end and frees what it holds. A thread only ever ends itself: nothing here stops, joins or
// exits another thread.
//
// The order of the virtual operations is part of the interface (the companion plug-in calls them
// by slot).
#pragma once

#include "KelvoAtomicsDictionary.h"
#include "KelvoAtomicsLists.h"
#include "KelvoCoreComponents.h"
#include "KelvoCoreObjects.h"
#include "KelvoCoreObjectsEvents.h"
#include "KelvoCoreObjectsTypes.h"

#include "PlatformAtoms.h"
#include "PlatformComponents.h"
#include "PlatformObjects.h"
#include "PlatformTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <pthread.h>

struct OpaqueWindowPtr;

// Events of services and background threads. The data of 'THST', 'THED' and 'THER' is the
// sender's Kelvo_UUID; of 'THPG' a double holding the progress (0.0 to 1.0). The parameter of
// 'THER' is the error; of 'THST' the sender's status; otherwise 0. The data is valid only during
// the call.
constexpr uint32_t kKelvoEventWorkStarted = FOUR_CHAR_CODE("THST");
constexpr uint32_t kKelvoEventWorkProgress = FOUR_CHAR_CODE("THPG");
constexpr uint32_t kKelvoEventWorkEnded = FOUR_CHAR_CODE("THED");
constexpr uint32_t kKelvoEventWorkFailed = FOUR_CHAR_CODE("THER");

// The settings atom that names the component: five big-endian words (type, subtype,
// manufacturer, flags, flags mask).
constexpr QTAtomType kKelvoComponentDescAtom = FOUR_CHAR_CODE("CDSC");
constexpr int32_t kKelvoComponentDescSize = 20;

// Refused while a thread runs (or, for calls that belong to the worker, from another thread).
constexpr int32_t kKelvoThreadActive = 200;
// A settings document of another service or another component.
constexpr int32_t kKelvoWrongDocument = 113;

// An events handler that one thread may set while another sends through it: the callback and
// its reference value are read and written under a lock, and the callback runs outside it.
class Kelvo_ServiceEventsHandler : public Kelvo_BaseEventsHandler {
  public:
    Kelvo_ServiceEventsHandler() = default;
    Kelvo_ServiceEventsHandler(const Kelvo_ServiceEventsHandler& other);
    Kelvo_ServiceEventsHandler& operator=(const Kelvo_ServiceEventsHandler& other);

    using Kelvo_BaseEventsHandler::qtObjIsValid;
    bool qtObjIsValid() override;
    void defaultStatus() override;
    void copy(Kelvo_QTObj& source) override;
    void getEventsHandler(Kelvo_EventsCallback& callback, void*& reference) override;
    void setEventsHandler(Kelvo_EventsCallback callback, void* reference) override;
    void notifyEvent(uint32_t event, void* data, int32_t parameter) const override;

  private:
    mutable std::mutex _mutex;
};

class Kelvo_BackgroundThread;

class Kelvo_ComponentService : public Kelvo_QTObj {
  public:
    ~Kelvo_ComponentService() override;
    Kelvo_ComponentService& operator=(const Kelvo_ComponentService&) = delete;

    const char* qtObjName() const override { return "Kelvo_ComponentService"; }
    using Kelvo_QTObj::qtObjIsValid;
    // A component is held.
    bool qtObjIsValid() override { return _component != nullptr; }
    // The component's open instance, or null.
    void* qtObjReference() override;
    bool isA(const char* name) const override;

    // Virtual operations after those of Kelvo_QTObj, in slot order.
    // The type of the service's settings documents.
    virtual uint32_t serviceId() = 0;
    virtual void InitService() = 0;
    // The property's value in a new handle owned by the caller; null (status set) on failure.
    virtual Handle getProperty(uint32_t propClass, uint32_t propID);
    // Copies the property's value into `value`, which holds `size` bytes; the bytes written.
    // A value larger than the buffer is refused (-2184); 0 with the status set on failure.
    virtual uint32_t getProperty(uint32_t propClass, uint32_t propID, void* value, uint32_t size);
    // True on success; else false with the status set.
    virtual bool setProperty(uint32_t propClass, uint32_t propID, const void* value, uint32_t size);
    // The 0-based position of the listed thread with that uid; -1 when none.
    virtual int32_t _indexOfThread(const Kelvo_UUID& uid);
    // Lists `thread` unless a thread with its uid is listed already. Once listed, the service
    // owns it; a refused thread stays the caller's.
    virtual void _addThread(Kelvo_BackgroundThread* thread);
    // Removes the listed thread with that uid and deletes it (a running worker carries on).
    virtual void _removeThread(const Kelvo_UUID& uid);
    // A new object describing the same component, owned by the caller; null without component.
    virtual Kelvo_Component* ServiceInfo();
    // Whether the platform's own progress procedure is used when nobody listens.
    virtual void DefaultCallback(bool on);
    // Keeps a copy of a valid notifier in place of the one held (null or invalid: none); the
    // status ends 0. Nothing on an invalid service.
    virtual void Callback(Kelvo_ProgressNotifier* notifier);
    // Stored when non-zero.
    virtual void FileType(OSType type);
    virtual void FileCreator(OSType creator);
    // A new dictionary (owned by the caller) holding a copy of the settings; null without them.
    virtual Kelvo_Dictionary* Properties();
    // The settings become a copy of the dictionary's container: an invalid dictionary gives its
    // status, an empty one -50.
    virtual void Properties(Kelvo_Dictionary* dictionary);
    virtual bool hasGUI();
    // A system of version 0x1030 or later and a thread-safe component.
    virtual bool hasBackgroundThreading();
    virtual bool ShowDialog() = 0;
    virtual bool ShowDialogWithin(OpaqueWindowPtr* window) = 0;
    // `text` becomes a new text (delete[] by the caller) describing the settings, or null.
    virtual void settingsToString(char*& text) = 0;
    virtual void ReadSettings(const char* path) = 0;
    // Writes the settings document: the service's type, one node with the settings tag as its
    // flags (when non-zero), the description (when not empty) and the flat settings container.
    // The status is the document's.
    virtual void WriteSettings(const char* path);

    // Takes `component` (deleted on failure and when another replaces it) and opens a
    // connection to it; a component that cannot be connected leaves none, with its status (or
    // -50 when it has none).
    void initConnection(Kelvo_Component* component);
    Kelvo_Component* component() const { return _component; }

    // The first 'CDSC' atom at the root of the settings: 20 bytes fill `description` and the atom
    // is returned; another size gives -50 and 0; no settings, no description or no atom give 0.
    QTAtom GetComponentDescFromSetting(ComponentDescription* description);
    // Inserts a 'CDSC' atom describing the component first at the root of the settings (flags
    // mask 0); the atom, or 0 with the status set (-50 without settings or component).
    QTAtom SetComponentDescToSetting();

    int16_t countOfActiveThreads();

    // "" when none.
    const char* Description() const { return _description ? _description : ""; }
    // Keeps a copy; null gives -50.
    void Description(const char* text);
    bool DefaultCallback() const { return _defaultCallback != 0; }
    Kelvo_ProgressNotifier* Callback() const { return _notifier; }

    // Whether the component can do the call with that selector.
    bool HasFeature(int16_t selector);
    // Whether the settings hold an atom of that type at their root.
    bool SettingsExist(OSType type);

    OSType DefaultType() const { return _defaultType; }
    OSType DefaultCreator() const { return _defaultCreator; }
    OSType FileType() const { return _fileType; }
    OSType FileCreator() const { return _fileCreator; }
    QTAtomContainer settings() const { return _settings; }
    uint32_t settingsTag() const { return _settingsTag; }

    bool backgroundTaskEnabled() const { return _backgroundTask != 0; }
    // Stored only when the service can work in the background.
    void backgroundTaskEnabled(bool on);

    // May be set from one thread while progress arrives on another.
    Kelvo_BaseEventsHandler& eventsHandler() { return _eventsHandler; }
    const Kelvo_UUID& uid() const { return _uid; }

  protected:
    // Everything zero or empty.
    Kelvo_ComponentService();
    // From a valid service (else -50): the background flag and the events handler, a new
    // connection to the same component and, when that works, a copy of the settings.
    Kelvo_ComponentService(const Kelvo_ComponentService& other);

    friend OSErr Kelvo_ComponentServiceICMEventsProc(int16_t, Fixed, intptr_t);
    friend OSErr Kelvo_ComponentServiceMovieEventsProc(Movie, int16_t, int16_t, Fixed, intptr_t);
    void reportProgress(int16_t message, Fixed progress);

    uint8_t _backgroundTask = 0;
    Kelvo_ServiceEventsHandler _eventsHandler;
    Kelvo_Component* _component = nullptr;
    QTAtomContainer _settings = nullptr;
    // Written as the node flags of the settings document.
    uint32_t _settingsTag = 0;
    char* _description = nullptr;
    Kelvo_ProgressNotifier* _notifier = nullptr;
    OSType _defaultType = 0;
    OSType _defaultCreator = 0;
    OSType _fileType = 0;
    OSType _fileCreator = 0;
    uint8_t _defaultCallback = 0;
    Kelvo_QTObjectsList _threads;
    Kelvo_UUID _uid;

  private:
    // Guards the notifier against progress arriving on another thread.
    mutable std::mutex _notifierMutex;
};

// Progress procedures of the platform's two forms; the reference value is the service. Message 0
// (open) sends 'THST'; 1 (update) 'THPG' with the progress, then calls the notifier with it; 2
// (close) 'THED', then the notifier with 1.0; other messages do nothing. Events go through the
// service's events handler when it is set. They may run on any thread.
// A null reference value gives -50; otherwise 0.
OSErr Kelvo_ComponentServiceICMEventsProc(int16_t message, Fixed progress, intptr_t refcon);
// Answers 0 also for a null reference value.
OSErr Kelvo_ComponentServiceMovieEventsProc(Movie movie, int16_t message, int16_t operation, Fixed progress,
                                            intptr_t refcon);

class Kelvo_BackgroundThread : public Kelvo_QTObj {
  public:
    // The work: true when it succeeded. It runs on the worker thread and is handed the run's
    // own view of the thread (the same uid, events handler and data source), which lives as long
    // as the run, whatever becomes of the object run() was called on.
    using UserProcedure = bool (*)(Kelvo_BackgroundThread* thread);

    explicit Kelvo_BackgroundThread(UserProcedure procedure);
    Kelvo_BackgroundThread(const Kelvo_BackgroundThread&) = delete;
    Kelvo_BackgroundThread& operator=(const Kelvo_BackgroundThread&) = delete;
    // Never waits for a running worker: the worker carries on with its own state.
    ~Kelvo_BackgroundThread() override;

    const char* qtObjName() const override { return "Kelvo_BackgroundThread"; }
    using Kelvo_QTObj::qtObjIsValid;
    // A worker is running.
    bool qtObjIsValid() override;
    bool isA(const char* name) const override;

    // Virtual operations after those of Kelvo_QTObj, in slot order.
    // On the worker: ends the run, so that nothing more is reported and the procedure's return
    // is the last thing it does. From any other thread: refused (200).
    virtual void _cleanThread();
    // On the worker, at the start of the run: status 0, the worker enters the movie toolbox and
    // a movie data source is attached to it; then 'THST'. When the movie cannot be attached,
    // 'THER' with that status and the run ends. False anywhere else.
    virtual bool _begin();
    // On the worker: 'THED', then _cleanThread().
    virtual void _stop();
    // The worker has started its body and not finished it.
    virtual bool isBusy();
    // The clone the run works on. The object run() was called on gives its clone away to the
    // run, so it answers null while a worker runs and after.
    virtual Kelvo_QTObj* dataSource();
    // Takes a clone of `source`: refused (200) while a worker runs or without a procedure; an
    // invalid source gives its status (null: -108); a source that cannot be cloned gives 9.
    virtual void dataSource(Kelvo_QTObj* source);
    // Starts the procedure on a new detached thread over the data source: without one, status 9
    // and 'THER'; refused (200) while a worker runs; else the thread creation's result. The run
    // takes the data source and a copy of the events handler as they are now. A movie data
    // source attached to the calling thread is detached from it first (attached back when no
    // thread could be made); when the run ends, the worker detaches it and leaves the toolbox.
    virtual void run();

    // From inside the procedure: ends the run without a further event; return at once after it.
    void abort() { _cleanThread(); }

    // The thread body of every run: 'THST', the procedure, then 'THED' when it succeeded, or
    // 'THER' with the thread's status when it failed. Nothing for a null thread, a busy one or
    // one that is not a run's own view.
    static void defaultServiceProcedure(Kelvo_BackgroundThread* thread);

    Kelvo_BaseEventsHandler& eventsHandler() { return _eventsHandler; }
    const Kelvo_UUID& uid() const { return _uid; }
    UserProcedure userProcedure() const { return _userProcedure; }

    // By uid: a run's view equals the object that started it.
    bool operator==(const Kelvo_BackgroundThread& other) const { return _uid == other._uid; }
    bool operator!=(const Kelvo_BackgroundThread& other) const { return !(*this == other); }

  private:
    // What the object that started a run and the run's own view share.
    struct RunState {
        std::atomic<bool> running{false};
        std::atomic<bool> busy{false};
    };
    struct WorkerTag {};

    // The run's own view of `owner`: takes its data source, copies its handler, uid and procedure.
    Kelvo_BackgroundThread(Kelvo_BackgroundThread& owner, WorkerTag);
    static void* threadMain(void* view);
    // Attaches the movie back to the calling thread after a run that could not start.
    static void reattach(Movie movie);
    bool onWorker() const;
    void report(uint32_t event, int32_t parameter);

    std::shared_ptr<RunState> _state;
    Kelvo_QTObj* _dataSource = nullptr;
    Kelvo_BaseEventsHandler _eventsHandler;
    Kelvo_UUID _uid;
    UserProcedure _userProcedure = nullptr;
    // Set only in a run's own view: the worker's thread, whether the run has ended, whether the
    // worker entered the movie toolbox and whether it attached a movie data source to itself.
    bool _isRunView = false;
    bool _ended = false;
    bool _enteredMovies = false;
    bool _attachedMovie = false;
    pthread_t _worker{};
};
