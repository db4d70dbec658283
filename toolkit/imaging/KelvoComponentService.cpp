#include "KelvoComponentService.h"

#include "KelvoCoreObjectsDocument.h"
#include "KelvoProperties.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovieThreads.h"
#include "PlatformProperties.h"
#include "PlatformSystem.h"

#include <cstring>
#include <new>

namespace {

// The first system version whose movie toolbox can work on threads of their own.
constexpr SInt32 kThreadedSystemVersion = 0x1030;

enum : int16_t { kProgressOpen = 0, kProgressUpdate = 1, kProgressClose = 2 };

} // namespace

// ---------------------------------------------------------------------------------------------
// Kelvo_ServiceEventsHandler

Kelvo_ServiceEventsHandler::Kelvo_ServiceEventsHandler(const Kelvo_ServiceEventsHandler& other)
    : Kelvo_BaseEventsHandler() {
    Kelvo_EventsCallback callback = nullptr;
    void* reference = nullptr;
    const_cast<Kelvo_ServiceEventsHandler&>(other).getEventsHandler(callback, reference);
    _callback = callback;
    _reference = reference;
}

Kelvo_ServiceEventsHandler& Kelvo_ServiceEventsHandler::operator=(const Kelvo_ServiceEventsHandler& other) {
    if (&other != this) copy(const_cast<Kelvo_ServiceEventsHandler&>(other));
    return *this;
}

bool Kelvo_ServiceEventsHandler::qtObjIsValid() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _callback != nullptr;
}

void Kelvo_ServiceEventsHandler::defaultStatus() {
    setEventsHandler(nullptr, nullptr);
}

void Kelvo_ServiceEventsHandler::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA("Kelvo_BaseEventsHandler")) return;
    Kelvo_EventsCallback callback = nullptr;
    void* reference = nullptr;
    // Read through the source's own accessor, so that its lock (if any) is taken on its own.
    static_cast<Kelvo_BaseEventsHandler&>(source).getEventsHandler(callback, reference);
    setEventsHandler(callback, reference);
}

void Kelvo_ServiceEventsHandler::getEventsHandler(Kelvo_EventsCallback& callback, void*& reference) {
    std::lock_guard<std::mutex> lock(_mutex);
    callback = _callback;
    reference = _reference;
}

void Kelvo_ServiceEventsHandler::setEventsHandler(Kelvo_EventsCallback callback, void* reference) {
    std::lock_guard<std::mutex> lock(_mutex);
    _callback = callback;
    _reference = reference;
}

void Kelvo_ServiceEventsHandler::notifyEvent(uint32_t event, void* data, int32_t parameter) const {
    Kelvo_EventsCallback callback = nullptr;
    void* reference = nullptr;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        callback = _callback;
        reference = _reference;
    }
    // Outside the lock: the listener may set the handler again.
    if (callback) callback(event, data, parameter, reference);
}

// ---------------------------------------------------------------------------------------------
// Kelvo_ComponentService

Kelvo_ComponentService::Kelvo_ComponentService() = default;

Kelvo_ComponentService::Kelvo_ComponentService(const Kelvo_ComponentService& other) : Kelvo_QTObj(other) {
    if (!const_cast<Kelvo_ComponentService&>(other).qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    _backgroundTask = other._backgroundTask;
    _eventsHandler = other._eventsHandler;
    auto* component = new (std::nothrow) Kelvo_Component(*other._component);
    if (!component) {
        _status = memFullErr;
        return;
    }
    initConnection(component);
    if (_component && other._settings) {
        QTAtomContainer copy = nullptr;
        OSErr err = QTCopyAtom(other._settings, 0, &copy);
        if (err == noErr)
            _settings = copy;
        else
            _status = err;
    }
}

Kelvo_ComponentService::~Kelvo_ComponentService() {
    // The listed threads go with the list; their workers run on their own state and finish.
    _threads.clear();
    delete _component;
    if (_settings) QTDisposeAtomContainer(_settings);
    delete[] _description;
    delete _notifier;
}

void* Kelvo_ComponentService::qtObjReference() {
    return _component ? static_cast<void*>(_component->instance()) : nullptr;
}

bool Kelvo_ComponentService::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_ComponentService") == 0;
}

void Kelvo_ComponentService::initConnection(Kelvo_Component* component) {
    if (component != _component) delete _component;
    _component = nullptr;
    // A null component, or an invalid one carrying an error (deleted here), connects nothing; an
    // invalid one without an error fails to connect below.
    if (!Kelvo_QTObj::isValidInstance(component, _status, true)) return;
    _component = component;
    _component->openConnection();
    if (!_component->isConnected()) {
        _status = _component->Error() != noErr ? _component->Error() : int32_t(paramErr);
        delete _component;
        _component = nullptr;
    }
}

Handle Kelvo_ComponentService::getProperty(uint32_t propClass, uint32_t propID) {
    Kelvo_PropertyComponent property(_component ? _component->instance() : nullptr, propClass);
    Handle value = property.getInfo(propID) ? property.getValue() : nullptr;
    if (!value) _status = property.Error() != noErr ? property.Error() : int32_t(paramErr);
    return value;
}

uint32_t Kelvo_ComponentService::getProperty(uint32_t propClass, uint32_t propID, void* value,
                                             uint32_t size) {
    Kelvo_PropertyComponent property(_component ? _component->instance() : nullptr, propClass);
    if (!property.getInfo(propID)) {
        _status = property.Error() != noErr ? property.Error() : int32_t(paramErr);
        return 0;
    }
    if (!value) {
        _status = paramErr;
        return 0;
    }
    if (property.valueSize() > size) {
        _status = kQTPropertyBadValueSizeErr;
        return 0;
    }
    uint32_t written = property.getValue(value);
    _status = property.Error();
    return _status == noErr ? written : 0;
}

bool Kelvo_ComponentService::setProperty(uint32_t propClass, uint32_t propID, const void* value,
                                         uint32_t size) {
    Kelvo_PropertyComponent property(_component ? _component->instance() : nullptr, propClass);
    if (property.getInfo(propID) && property.setValue(value, size)) {
        _status = noErr;
        return true;
    }
    _status = property.Error() != noErr ? property.Error() : int32_t(paramErr);
    return false;
}

QTAtom Kelvo_ComponentService::GetComponentDescFromSetting(ComponentDescription* description) {
    if (!_settings || !description) return 0;
    QTAtom atom = QTFindChildByIndex(_settings, 0, kKelvoComponentDescAtom, 1, nullptr);
    if (!atom) return 0;
    int32_t size = 0;
    Ptr bytes = nullptr;
    if (QTGetAtomDataPtr(_settings, atom, &size, &bytes) != noErr || size != kKelvoComponentDescSize) {
        _status = paramErr;
        return 0;
    }
    const auto* p = reinterpret_cast<const uint8_t*>(bytes);
    description->componentType = platform::loadBE32(p);
    description->componentSubType = platform::loadBE32(p + 4);
    description->componentManufacturer = platform::loadBE32(p + 8);
    description->componentFlags = platform::loadBE32(p + 12);
    description->componentFlagsMask = platform::loadBE32(p + 16);
    return atom;
}

QTAtom Kelvo_ComponentService::SetComponentDescToSetting() {
    if (!_settings || !_component) {
        _status = paramErr;
        return 0;
    }
    uint8_t bytes[kKelvoComponentDescSize];
    platform::storeBE32(bytes, _component->Type());
    platform::storeBE32(bytes + 4, _component->SubType());
    platform::storeBE32(bytes + 8, _component->Manufacturer());
    platform::storeBE32(bytes + 12, _component->Properties());
    platform::storeBE32(bytes + 16, 0);
    QTAtom atom = 0;
    _status =
        QTInsertChild(_settings, 0, kKelvoComponentDescAtom, 0, 1, kKelvoComponentDescSize, bytes, &atom);
    return _status == noErr ? atom : 0;
}

int32_t Kelvo_ComponentService::_indexOfThread(const Kelvo_UUID& uid) {
    const int32_t n = _threads.count();
    for (int32_t i = 0; i < n; ++i) {
        auto* thread = static_cast<Kelvo_BackgroundThread*>(_threads.getObjValueByRef(i));
        if (thread && thread->uid() == uid) return i;
    }
    return -1;
}

void Kelvo_ComponentService::_addThread(Kelvo_BackgroundThread* thread) {
    if (!thread || _indexOfThread(thread->uid()) >= 0) return;
    _threads.addObjValueByRef(thread);
}

void Kelvo_ComponentService::_removeThread(const Kelvo_UUID& uid) {
    const int32_t index = _indexOfThread(uid);
    if (index >= 0) _threads.RemoveKey(index);
}

int16_t Kelvo_ComponentService::countOfActiveThreads() {
    return int16_t(_threads.count());
}

void Kelvo_ComponentService::Description(const char* text) {
    if (!text) {
        _status = paramErr;
        return;
    }
    const size_t n = std::strlen(text);
    auto* copy = new (std::nothrow) char[n + 1];
    if (!copy) {
        _status = memFullErr;
        return;
    }
    std::memcpy(copy, text, n + 1);
    delete[] _description;
    _description = copy;
}

void Kelvo_ComponentService::DefaultCallback(bool on) {
    _defaultCallback = on ? 1 : 0;
}

void Kelvo_ComponentService::Callback(Kelvo_ProgressNotifier* notifier) {
    if (!qtObjIsValid()) return;
    Kelvo_ProgressNotifier* copy = nullptr;
    if (notifier && notifier->qtObjIsValid()) {
        copy = new (std::nothrow) Kelvo_ProgressNotifier(*notifier);
        if (!copy) {
            _status = memFullErr;
            return;
        }
    }
    Kelvo_ProgressNotifier* old = nullptr;
    {
        std::lock_guard<std::mutex> lock(_notifierMutex);
        old = _notifier;
        _notifier = copy;
    }
    delete old;
    _status = noErr;
}

void Kelvo_ComponentService::WriteSettings(const char* path) {
    if (!qtObjIsValid()) return;
    Kelvo_QTObjDocument document(serviceId());
    if (document.Error() != noErr) {
        _status = document.Error();
        return;
    }
    if (_settings) {
        Handle flat = nullptr;
        OSErr err = QTFlattenAtomContainer(_settings, &flat);
        if (err != noErr) {
            _status = err;
            return;
        }
        uint32_t tag = _settingsTag;
        document.Doc_NodeData(flat, tag != 0 ? &tag : nullptr, _description);
        DisposeHandle(flat);
        if (document.Error() != noErr) {
            _status = document.Error();
            return;
        }
    }
    document.Doc_Write(path);
    _status = document.Error();
}

bool Kelvo_ComponentService::HasFeature(int16_t selector) {
    if (!_component || !_component->instance()) return false;
    int16_t asked = selector;
    return platform::callComponent(_component->instance(), kComponentCanDoSelect, &asked) == 1;
}

bool Kelvo_ComponentService::SettingsExist(OSType type) {
    return _settings && QTCountChildrenOfType(_settings, 0, type) > 0;
}

Kelvo_Component* Kelvo_ComponentService::ServiceInfo() {
    if (!_component) return nullptr;
    auto* info = new (std::nothrow) Kelvo_Component(_component->id());
    if (!info) _status = memFullErr;
    return info;
}

void Kelvo_ComponentService::FileType(OSType type) {
    if (type != 0) _fileType = type;
}

void Kelvo_ComponentService::FileCreator(OSType creator) {
    if (creator != 0) _fileCreator = creator;
}

Kelvo_Dictionary* Kelvo_ComponentService::Properties() {
    if (!_settings) return nullptr;
    auto* dictionary = new (std::nothrow) Kelvo_Dictionary();
    if (!dictionary) {
        _status = memFullErr;
        return nullptr;
    }
    dictionary->Copy(_settings);
    if (dictionary->Error() != noErr) {
        _status = dictionary->Error();
        delete dictionary;
        return nullptr;
    }
    return dictionary;
}

void Kelvo_ComponentService::Properties(Kelvo_Dictionary* dictionary) {
    if (!Kelvo_QTObj::isValidInstance(dictionary, _status, false)) return;
    if (!dictionary->Dictionary() || dictionary->empty()) {
        _status = paramErr;
        return;
    }
    QTAtomContainer copy = nullptr;
    _status = QTCopyAtom(dictionary->Dictionary(), 0, &copy);
    if (_status != noErr) return;
    if (_settings) QTDisposeAtomContainer(_settings);
    _settings = copy;
}

bool Kelvo_ComponentService::hasGUI() {
    return false;
}

bool Kelvo_ComponentService::hasBackgroundThreading() {
    SInt32 version = 0;
    if (Gestalt(gestaltSystemVersion, &version) != noErr || version < kThreadedSystemVersion) return false;
    if (!_component) return false;
    Kelvo_Component described(_component->id());
    return described.isThreadSafe();
}

void Kelvo_ComponentService::backgroundTaskEnabled(bool on) {
    if (hasBackgroundThreading()) _backgroundTask = on ? 1 : 0;
}

void Kelvo_ComponentService::reportProgress(int16_t message, Fixed progress) {
    Kelvo_ProgressCallback callback = nullptr;
    void* reference = nullptr;
    {
        std::lock_guard<std::mutex> lock(_notifierMutex);
        if (_notifier) {
            callback = _notifier->callback();
            reference = _notifier->reference();
        }
    }
    switch (message) {
    case kProgressOpen:
        _eventsHandler.notifyEvent(kKelvoEventWorkStarted, &_uid, 0);
        break;
    case kProgressUpdate: {
        double fraction = Fix2X(progress);
        _eventsHandler.notifyEvent(kKelvoEventWorkProgress, &fraction, 0);
        if (callback) callback(fraction, reference, 0);
        break;
    }
    case kProgressClose:
        _eventsHandler.notifyEvent(kKelvoEventWorkEnded, &_uid, 0);
        if (callback) callback(1.0, reference, 0);
        break;
    default:
        break;
    }
}

OSErr Kelvo_ComponentServiceICMEventsProc(int16_t message, Fixed progress, intptr_t refcon) {
    auto* service = reinterpret_cast<Kelvo_ComponentService*>(refcon);
    if (!service) return paramErr;
    service->reportProgress(message, progress);
    return noErr;
}

OSErr Kelvo_ComponentServiceMovieEventsProc(Movie, int16_t message, int16_t, Fixed progress,
                                            intptr_t refcon) {
    auto* service = reinterpret_cast<Kelvo_ComponentService*>(refcon);
    if (service) service->reportProgress(message, progress);
    return noErr;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_BackgroundThread

namespace {

// The platform movie of a data source that is a movie wrapper (known by name: the movie classes
// live above this library), or null.
Movie movieOf(Kelvo_QTObj* source) {
    return source && source->isA("Kelvo_Movie") ? static_cast<Movie>(source->qtObjReference()) : nullptr;
}

bool attachedHere(Movie movie) {
    Boolean here = false;
    return movie && GetMovieThreadAttachState(movie, &here, nullptr) == noErr && here;
}

} // namespace

Kelvo_BackgroundThread::Kelvo_BackgroundThread(UserProcedure procedure)
    : _state(std::make_shared<RunState>()), _userProcedure(procedure) {}

Kelvo_BackgroundThread::Kelvo_BackgroundThread(Kelvo_BackgroundThread& owner, WorkerTag)
    : Kelvo_QTObj(owner), _state(owner._state), _dataSource(owner._dataSource),
      _eventsHandler(owner._eventsHandler), _uid(owner._uid), _userProcedure(owner._userProcedure),
      _isRunView(true) {
    owner._dataSource = nullptr;
}

Kelvo_BackgroundThread::~Kelvo_BackgroundThread() {
    delete _dataSource;
}

bool Kelvo_BackgroundThread::qtObjIsValid() {
    return _state->running.load(std::memory_order_acquire);
}

bool Kelvo_BackgroundThread::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_BackgroundThread") == 0;
}

bool Kelvo_BackgroundThread::onWorker() const {
    return _isRunView && pthread_equal(pthread_self(), _worker);
}

void Kelvo_BackgroundThread::report(uint32_t event, int32_t parameter) {
    _eventsHandler.notifyEvent(event, &_uid, parameter);
}

void Kelvo_BackgroundThread::_cleanThread() {
    if (!onWorker()) {
        _status = kKelvoThreadActive;
        return;
    }
    _ended = true;
}

bool Kelvo_BackgroundThread::_begin() {
    if (!onWorker() || _ended) return false;
    _status = noErr;
    if (!_enteredMovies) {
        _status = EnterMoviesOnThread(0);
        _enteredMovies = _status == noErr;
    }
    if (Movie movie = movieOf(_dataSource); _status == noErr && movie && !_attachedMovie) {
        _status = AttachMovieToCurrentThread(movie);
        _attachedMovie = _status == noErr;
    }
    if (_status != noErr) {
        report(kKelvoEventWorkFailed, _status);
        _cleanThread();
        return false;
    }
    report(kKelvoEventWorkStarted, 0);
    return true;
}

void Kelvo_BackgroundThread::_stop() {
    if (!onWorker() || _ended) return;
    report(kKelvoEventWorkEnded, 0);
    _cleanThread();
}

bool Kelvo_BackgroundThread::isBusy() {
    return _state->busy.load(std::memory_order_acquire);
}

Kelvo_QTObj* Kelvo_BackgroundThread::dataSource() {
    return _dataSource;
}

void Kelvo_BackgroundThread::dataSource(Kelvo_QTObj* source) {
    if (qtObjIsValid() || !_userProcedure) {
        _status = kKelvoThreadActive;
        return;
    }
    if (!Kelvo_QTObj::isValidInstance(source, _status, false)) return;
    Kelvo_QTObj* copy = source->clone();
    if (!copy) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    delete _dataSource;
    _dataSource = copy;
}

void Kelvo_BackgroundThread::run() {
    if (_isRunView || qtObjIsValid()) {
        _status = kKelvoThreadActive;
        return;
    }
    if (!_dataSource) {
        _status = kKelvoBadArgumentObject;
        report(kKelvoEventWorkFailed, _status);
        return;
    }
    // The movie goes to the worker, which attaches it to itself.
    const Movie movie = movieOf(_dataSource);
    const bool detached = attachedHere(movie) && DetachMovieFromCurrentThread(movie) == noErr;
    auto* view = new (std::nothrow) Kelvo_BackgroundThread(*this, WorkerTag{});
    if (!view) {
        if (detached) reattach(movie);
        _status = memFullErr;
        return;
    }
    _state->running.store(true, std::memory_order_release);
    pthread_attr_t attributes;
    int result = pthread_attr_init(&attributes);
    if (result == 0) {
        result = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        if (result == 0) result = pthread_create(&thread, &attributes, threadMain, view);
        pthread_attr_destroy(&attributes);
    }
    if (result != 0) {
        // No worker: the data source comes back and nothing was reported.
        _state->running.store(false, std::memory_order_release);
        _dataSource = view->_dataSource;
        view->_dataSource = nullptr;
        delete view;
        if (detached) reattach(movie);
    }
    _status = result;
}

void Kelvo_BackgroundThread::reattach(Movie movie) {
    // This thread had the movie before: it takes it back as it was, entered or not.
    EnterMoviesOnThread(0);
    AttachMovieToCurrentThread(movie);
    ExitMoviesOnThread();
}

void* Kelvo_BackgroundThread::threadMain(void* argument) {
    auto* view = static_cast<Kelvo_BackgroundThread*>(argument);
    view->_worker = pthread_self();
    defaultServiceProcedure(view);
    // The worker hands the movie back to no thread and leaves the toolbox before the data
    // source goes.
    if (view->_attachedMovie) DetachMovieFromCurrentThread(movieOf(view->_dataSource));
    if (view->_enteredMovies) ExitMoviesOnThread();
    // The run is over: free what it held, then say so. The data source goes last, so that
    // whoever waits for it to go finds the thread idle.
    std::shared_ptr<RunState> state = view->_state;
    Kelvo_QTObj* source = view->_dataSource;
    view->_dataSource = nullptr;
    delete view;
    state->busy.store(false, std::memory_order_release);
    state->running.store(false, std::memory_order_release);
    delete source;
    return nullptr;
}

void Kelvo_BackgroundThread::defaultServiceProcedure(Kelvo_BackgroundThread* thread) {
    if (!thread || !thread->onWorker() || thread->isBusy()) return;
    thread->_state->busy.store(true, std::memory_order_release);
    if (!thread->_begin()) return;
    if (thread->_userProcedure(thread)) {
        thread->_stop();
        return;
    }
    if (!thread->_ended) thread->report(kKelvoEventWorkFailed, thread->_status);
    thread->_cleanThread();
}
