// Grabbers and channels keep their state in one table of this file, keyed by the instances the
// component manager made; the manager's open and close callbacks add and remove the entries.
// Movie calls run outside the table's lock, on state copied under it.
#include "PlatformSequenceGrabber.h"

#include "PlatformComponents.h"
#include "PlatformMemory.h"
#include "PlatformMovieFileReader.h"
#include "PlatformMovieModel.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <new>
#include <vector>

namespace {

struct Grabber {
    Movie source = nullptr;
    bool ownsSource = false; // opened here from a data reference: disposed of with the grabber
    bool hasDataRef = false;
    std::vector<char> dataRef;
    OSType dataRefType = 0;
    int32_t whereFlags = 0;
    UserData settings = nullptr; // owned copy
    std::vector<SGChannel> channels;
};

struct Channel {
    SeqGrabComponent grabber = nullptr;
    OSType type = 0;
    RgnHandle clip = nullptr; // owned copy
};

struct Table {
    std::mutex mutex;
    std::map<ComponentInstance, Grabber> grabbers;
    std::map<ComponentInstance, Channel> channels;
    // The video channel's component, once registered.
    Component channelComponent = nullptr;
};

Table& table() {
    static Table* t = new Table(); // lives as long as the process, as the components do
    return *t;
}

OSErr openGrabber(void*, Component, ComponentInstance* instance) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    try {
        t.grabbers[*instance] = Grabber{};
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    return noErr;
}

OSErr closeGrabber(void*, ComponentInstance instance) {
    Table& t = table();
    std::vector<SGChannel> channels;
    UserData settings = nullptr;
    Movie owned = nullptr;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.grabbers.find(instance);
        if (it == t.grabbers.end()) return noErr;
        channels = std::move(it->second.channels);
        settings = it->second.settings;
        if (it->second.ownsSource) owned = it->second.source;
        t.grabbers.erase(it);
    }
    for (SGChannel c : channels)
        CloseComponent(c);
    if (settings) DisposeUserData(settings);
    if (owned) DisposeMovie(owned);
    return noErr;
}

OSErr openChannel(void*, Component, ComponentInstance* instance) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    try {
        t.channels[*instance] = Channel{};
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    return noErr;
}

OSErr closeChannel(void*, ComponentInstance instance) {
    Table& t = table();
    RgnHandle clip = nullptr;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.channels.find(instance);
        if (it == t.channels.end()) return noErr;
        clip = it->second.clip;
        auto g = t.grabbers.find(it->second.grabber);
        if (g != t.grabbers.end()) {
            auto& list = g->second.channels;
            list.erase(std::remove(list.begin(), list.end(), instance), list.end());
        }
        t.channels.erase(it);
    }
    if (clip) DisposeRgn(clip);
    return noErr;
}

ComponentResult canDoNothing(void*, ComponentInstance, int32_t selector, void*) {
    return selector == kComponentCanDoSelect ? 0 : badComponentSelector;
}

void installGrabberComponents() {
    static std::once_flag once;
    std::call_once(once, [] {
        Handle icon = platform::newPlainIconSuite(0xFFE8F0D8u, 0xFF384830u);
        platform::ComponentCallbacks grabber;
        grabber.open = openGrabber;
        grabber.close = closeGrabber;
        grabber.dispatch = canDoNothing;
        platform::registerComponent(
            {SeqGrabComponentType, 0, platform::kVendorCode, cmpThreadSafe, 0}, "Sequence Grabber",
            "Grabs the frames of a source movie through a video channel", icon, grabber, nullptr);
        platform::ComponentCallbacks channel;
        channel.open = openChannel;
        channel.close = closeChannel;
        channel.dispatch = canDoNothing;
        Component c = platform::registerComponent(
            {SeqGrabChannelType, VideoMediaType, platform::kVendorCode, cmpThreadSafe, 0}, "Video Channel",
            "The video channel of the sequence grabber: the frames of the source movie's video track", icon,
            channel, nullptr);
        {
            Table& t = table();
            std::lock_guard<std::mutex> lock(t.mutex);
            t.channelComponent = c;
        }
        if (icon) DisposeHandle(icon);
    });
}

// Registered before anybody looks for a grabber component.
const bool kInstallerAdded = platform::addComponentInstaller(installGrabberComponents);

template <class F> ComponentResult onGrabber(SeqGrabComponent s, F body) {
    if (!s) return badComponentInstance;
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.grabbers.find(s);
    if (it == t.grabbers.end()) return badComponentInstance;
    return body(it->second);
}

template <class F> ComponentResult onChannel(SGChannel c, F body) {
    if (!c) return badComponentInstance;
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.channels.find(c);
    if (it == t.channels.end()) return badComponentInstance;
    return body(it->second);
}

bool movieExists(Movie m) {
    return platform::movie::onRecord(m, false, [](platform::movie::MovieRecord&) { return true; });
}

} // namespace

ComponentResult SGInitialize(SeqGrabComponent s) {
    return onGrabber(s, [](Grabber&) { return ComponentResult(noErr); });
}

ComponentResult SGNewChannel(SeqGrabComponent s, OSType channelType, SGChannel* ref) {
    if (ref) *ref = nullptr;
    if (!ref) return paramErr;
    ComponentResult err = onGrabber(s, [&](Grabber& g) -> ComponentResult {
        if (channelType == SoundMediaType) return noDeviceForChannel;
        if (channelType != VideoMediaType) return couldntGetRequiredComponent;
        // One video source: a second video channel has no device left.
        for (SGChannel c : g.channels) {
            auto it = table().channels.find(c);
            if (it != table().channels.end() && it->second.type == VideoMediaType) return noDeviceForChannel;
        }
        return noErr;
    });
    if (err != noErr) return err;
    installGrabberComponents();
    Component component = nullptr;
    {
        std::lock_guard<std::mutex> lock(table().mutex);
        component = table().channelComponent;
    }
    SGChannel channel = component ? OpenComponent(component) : nullptr;
    if (!channel) return couldntGetRequiredComponent;
    err = onGrabber(s, [&](Grabber& g) -> ComponentResult {
        auto it = table().channels.find(channel);
        if (it == table().channels.end()) return badSGChannel;
        try {
            g.channels.push_back(channel);
        } catch (const std::bad_alloc&) {
            return memFullErr;
        }
        it->second.grabber = s;
        it->second.type = channelType;
        return noErr;
    });
    if (err != noErr) {
        CloseComponent(channel); // the grabber went away meanwhile
        return err;
    }
    *ref = channel;
    return noErr;
}

ComponentResult SGDisposeChannel(SeqGrabComponent s, SGChannel c) {
    ComponentResult err = onGrabber(s, [&](Grabber& g) -> ComponentResult {
        return std::find(g.channels.begin(), g.channels.end(), c) == g.channels.end() ? badSGChannel : noErr;
    });
    if (err != noErr) return err;
    return CloseComponent(c);
}

ComponentResult SGSetDataRef(SeqGrabComponent s, Handle dataRef, OSType dataRefType, int32_t whereFlags) {
    if (dataRef && !*dataRef) return nilHandleErr;
    if (dataRef && GetHandleSize(dataRef) <= 0) return paramErr;
    std::vector<char> bytes;
    if (dataRef) bytes.assign(*dataRef, *dataRef + GetHandleSize(dataRef));
    return onGrabber(s, [&](Grabber& g) {
        g.hasDataRef = dataRef != nullptr;
        g.dataRef = std::move(bytes);
        g.dataRefType = dataRef ? dataRefType : 0;
        g.whereFlags = whereFlags;
        return ComponentResult(noErr);
    });
}

ComponentResult SGGetDataRef(SeqGrabComponent s, Handle* dataRef, OSType* dataRefType, int32_t* whereFlags) {
    if (dataRef) *dataRef = nullptr;
    if (dataRefType) *dataRefType = 0;
    if (whereFlags) *whereFlags = 0;
    bool has = false;
    std::vector<char> bytes;
    OSType type = 0;
    int32_t flags = 0;
    ComponentResult err = onGrabber(s, [&](Grabber& g) {
        has = g.hasDataRef;
        bytes = g.dataRef;
        type = g.dataRefType;
        flags = g.whereFlags;
        return ComponentResult(noErr);
    });
    if (err != noErr) return err;
    if (dataRef && has) {
        if (OSErr e = PtrToHand(bytes.data(), dataRef, Size(bytes.size()))) return e;
    }
    if (dataRefType) *dataRefType = type;
    if (whereFlags) *whereFlags = flags;
    return noErr;
}

ComponentResult SGGetChannelSampleDescription(SGChannel c, Handle sampleDesc) {
    Movie source = nullptr;
    ComponentResult err = onChannel(c, [&](Channel& ch) -> ComponentResult {
        auto g = table().grabbers.find(ch.grabber);
        if (g == table().grabbers.end()) return badSGChannel;
        source = g->second.source;
        return noErr;
    });
    if (err != noErr) return err;
    if (!sampleDesc || !*sampleDesc) return nilHandleErr;
    if (!source) return seqGrabInfoNotAvailable;
    Track track = GetMovieIndTrackType(source, 1, VideoMediaType, movieTrackMediaType);
    if (!track) return GetMoviesError() == invalidMovie ? invalidMovie : seqGrabInfoNotAvailable;
    Media media = GetTrackMedia(track);
    if (!media || GetMediaSampleDescriptionCount(media) < 1) return seqGrabInfoNotAvailable;
    GetMediaSampleDescription(media, 1, reinterpret_cast<SampleDescriptionHandle>(sampleDesc));
    return GetMoviesError();
}

ComponentResult SGSetChannelClip(SGChannel c, RgnHandle theClip) {
    RgnHandle copy = nullptr;
    if (theClip) {
        if (!platform::isRegion(theClip)) return paramErr;
        copy = platform::movie::copyRegion(theClip);
        if (!copy) return memFullErr;
    }
    RgnHandle old = nullptr;
    ComponentResult err = onChannel(c, [&](Channel& ch) {
        old = ch.clip;
        ch.clip = copy;
        return ComponentResult(noErr);
    });
    if (err != noErr) old = copy;
    if (old) DisposeRgn(old);
    return err;
}

ComponentResult SGGetChannelClip(SGChannel c, RgnHandle* theClip) {
    if (theClip) *theClip = nullptr;
    if (!theClip) return paramErr;
    RgnHandle copy = nullptr;
    // Copied under the lock: a concurrent set may dispose of the kept region once it is let go.
    ComponentResult err = onChannel(c, [&](Channel& ch) -> ComponentResult {
        if (!ch.clip) return noErr;
        copy = platform::movie::copyRegion(ch.clip);
        return copy ? noErr : memFullErr;
    });
    if (err != noErr) return err;
    *theClip = copy;
    return noErr;
}

ComponentResult SGSetSettings(SeqGrabComponent s, UserData ud, int32_t flags) {
    if (flags != 0 || !platform::isUserData(ud)) {
        ComponentResult err = onGrabber(s, [](Grabber&) { return ComponentResult(noErr); });
        return err != noErr ? err : ComponentResult(paramErr);
    }
    UserData copy = platform::movie::copyUserData(ud);
    if (!copy) return memFullErr;
    UserData old = nullptr;
    ComponentResult err = onGrabber(s, [&](Grabber& g) {
        old = g.settings;
        g.settings = copy;
        return ComponentResult(noErr);
    });
    if (err != noErr) old = copy;
    if (old) DisposeUserData(old);
    return err;
}

ComponentResult SGGetSettings(SeqGrabComponent s, UserData* ud, int32_t flags) {
    if (ud) *ud = nullptr;
    if (!ud) return paramErr;
    UserData copy = nullptr;
    // Copied under the lock: a concurrent set disposes of the kept list once it is let go.
    ComponentResult err = onGrabber(s, [&](Grabber& g) -> ComponentResult {
        if (flags != 0) return paramErr;
        if (g.settings) {
            copy = platform::movie::copyUserData(g.settings);
            return copy ? noErr : memFullErr;
        }
        return NewUserData(&copy);
    });
    if (err != noErr) return err;
    *ud = copy;
    return noErr;
}

namespace platform {

namespace {

// Makes the movie the grabber's source; a movie the grabber opened itself before is disposed of.
// When the grabber is gone by then, a movie it was to own is disposed of too.
ComponentResult replaceSource(SeqGrabComponent s, Movie source, bool owns) {
    Movie previous = nullptr;
    const ComponentResult err = onGrabber(s, [&](Grabber& g) {
        if (g.ownsSource && g.source != source) previous = g.source;
        g.source = source;
        g.ownsSource = owns;
        return ComponentResult(noErr);
    });
    if (previous) DisposeMovie(previous);
    if (err != noErr && owns && source) DisposeMovie(source);
    return err;
}

} // namespace

ComponentResult sequenceGrabberSetSourceMovie(SeqGrabComponent s, Movie source) {
    ComponentResult err = onGrabber(s, [](Grabber&) { return ComponentResult(noErr); });
    if (err != noErr) return err;
    if (source && !movieExists(source)) return invalidMovie;
    return replaceSource(s, source, false);
}

ComponentResult sequenceGrabberSetSourceDataRef(SeqGrabComponent s, Handle dataRef, OSType dataRefType) {
    ComponentResult err = onGrabber(s, [](Grabber&) { return ComponentResult(noErr); });
    if (err != noErr) return err;
    if (!dataRef || !*dataRef) return paramErr;
    Movie movie = nullptr;
    int16_t id = 0;
    err = NewMovieFromDataRef(&movie, 0, &id, dataRef, dataRefType);
    if (err != noErr) {
        // A movie made all the same (its samples' files missing) is of no use as a source.
        if (movie) DisposeMovie(movie);
        return err;
    }
    return replaceSource(s, movie, true);
}

} // namespace platform
