// The component manager: the process-wide catalogue of components (codecs, clocks, importers,
// exporters, effects) that the toolkit finds by type, subtype and manufacturer, and the instances
// opened on them.
//
// - Components are registered by the layers that provide them (platform::registerComponent) and
//   are found in registration order. The built-in components (the clocks and the codecs of the
//   codec registry) are registered before anything else, on the first use of the manager.
// - A component instance may stand wherever a component is expected (GetComponentInfo,
//   OpenAComponent, FindNextComponent's starting point, GetComponentIconSuite): it names the
//   component it was opened on.
// - Records of registered components live as long as the process, so a Component never dangles
//   and is never reused, even after it is unregistered; calls on an unregistered component or an
//   unknown pointer are refused with a status, never dereferenced.
// - Every call is safe from any thread. The providers' open, close and dispatch callbacks run
//   outside the manager's lock and may call the manager; `ownsInstance` runs under it and must
//   not.
//
// Icon suites are our own: a handle of 32 x 32 pixels of A, R, G, B bytes, rows top to bottom.
#pragma once

#include "PlatformMemory.h"
#include "PlatformObjects.h"
#include "PlatformTypes.h"

struct ComponentDescription {
    OSType componentType;
    OSType componentSubType;
    OSType componentManufacturer;
    uint32_t componentFlags;
    uint32_t componentFlagsMask;
};
static_assert(sizeof(ComponentDescription) == 20);

// Component flags kept by the manager; the rest of the 32 bits belong to the component's kind
// (codecs keep their capability flags there).
enum : uint32_t {
    cmpThreadSafe = 0x10000000u,
    cmpIsMissing = 0x20000000u,
    cmpFastDispatch = 0x40000000u,
    cmpWantsRegisterMessage = 0x80000000u,
};

constexpr OSType kAnyComponentType = 0;
constexpr OSType kAnyComponentSubType = 0;
constexpr OSType kAnyComponentManufacturer = 0;
constexpr uint32_t kAnyComponentFlagsMask = 0;

// Component types of the catalogue.
constexpr OSType clockComponentType = FOUR_CHAR_CODE("clok");
constexpr OSType systemMicrosecondClock = FOUR_CHAR_CODE("micr");
constexpr OSType systemSteadyClock = FOUR_CHAR_CODE("stdy");
constexpr OSType compressorComponentType = FOUR_CHAR_CODE("imco");
constexpr OSType decompressorComponentType = FOUR_CHAR_CODE("imdc");
constexpr OSType GraphicsImporterComponentType = FOUR_CHAR_CODE("grip");
constexpr OSType GraphicsExporterComponentType = FOUR_CHAR_CODE("grex");
constexpr OSType MovieImportType = FOUR_CHAR_CODE("eat ");
constexpr OSType MovieExportType = FOUR_CHAR_CODE("spit");
constexpr OSType QTVideoOutputComponentType = FOUR_CHAR_CODE("vout");
constexpr OSType videoDigitizerComponentType = FOUR_CHAR_CODE("vdig");

constexpr OSErr invalidComponentID = -3000;
constexpr OSErr validInstancesExist = -3001;

// Icon suites.
constexpr int kIconSuiteSide = 32;
constexpr int32_t kIconSuiteBytes = kIconSuiteSide * kIconSuiteSide * 4;
using IconAlignmentType = int16_t;
using IconTransformType = int16_t;
constexpr IconAlignmentType kAlignNone = 0;
constexpr IconTransformType kTransformNone = 0;

// The next component after `aComponent` (null: from the first) that matches `looking` (null:
// every component): a zero type, subtype or manufacturer matches anything, and the flags are
// compared under the mask. Null after the last, and for a starting point the manager does not
// know.
Component FindNextComponent(Component aComponent, ComponentDescription* looking);
int32_t CountComponents(ComponentDescription* looking);

// The component's description (its flags mask 0), name and information text as length-prefixed
// strings (up to 255 characters), and its icon suite's pixels; each output is optional.
// invalidComponentID for an unknown component.
OSErr GetComponentInfo(Component aComponent, ComponentDescription* cd, Handle componentName,
                       Handle componentInfo, Handle componentIcon);
// A new handle (the caller disposes it) holding the component's icon suite; resNotFound when the
// component has none.
OSErr GetComponentIconSuite(Component aComponent, Handle* iconSuite);

// Opens a new instance; the instance is null on failure. invalidComponentID for an unknown
// component, else the provider's status.
OSErr OpenAComponent(Component aComponent, ComponentInstance* ci);
ComponentInstance OpenComponent(Component aComponent);
// An instance of the first component of the type and subtype (0: any subtype), from any maker;
// null when none is registered or it refuses to open.
ComponentInstance OpenDefaultComponent(OSType componentType, OSType componentSubType);
// Closes an instance opened through the manager, or one a provider opened on its own (a clock
// opened on a caller's time source); badComponentInstance (as an OSErr) for anything else.
OSErr CloseComponent(ComponentInstance ci);

// Storage that a provider keeps with an instance that the manager made; null for others.
Handle GetComponentInstanceStorage(ComponentInstance ci);
void SetComponentInstanceStorage(ComponentInstance ci, Handle storage);

// Icon suites: disposal, and drawing into the current port scaled to `theRect`.
OSErr DisposeIconSuite(Handle theIconSuite, Boolean disposeData);
OSErr PlotIconSuite(const Rect* theRect, IconAlignmentType align, IconTransformType transform,
                    Handle theIconSuite);

// Progress procedures of the image-compression form, as importers and exporters call them. The
// messages: open, update (with how much is done, a Fixed from 0 to 1) and close; the reference
// constant is the caller's. The answer is not used: nothing cancels the work.
using ICMProgressProcPtr = OSErr (*)(int16_t message, Fixed completeness, intptr_t refcon);
struct ICMProgressProcRecord {
    ICMProgressProcPtr progressProc;
    intptr_t progressRefCon;
};
constexpr int16_t kICMProgressOpen = 0;
constexpr int16_t kICMProgressUpdate = 1;
constexpr int16_t kICMProgressClose = 2;

// The selector every component may answer: whether it answers the selector (an int16_t) that
// `params` points at, 1 for yes.
constexpr int32_t kComponentCanDoSelect = -3;

namespace platform {

// The manufacturer code of the components this platform layer provides (clocks, codecs).
constexpr OSType kVendorCode = FOUR_CHAR_CODE("sylm");

// What a provider answers for its component. Every callback is optional.
struct ComponentCallbacks {
    // Opens an instance. `*instance` arrives holding an instance that the manager made; a
    // provider whose instances are objects of its own puts one of them there instead. A status
    // other than noErr refuses the open.
    OSErr (*open)(void* refcon, Component self, ComponentInstance* instance) = nullptr;
    OSErr (*close)(void* refcon, ComponentInstance instance) = nullptr;
    // The component's calls, by selector.
    ComponentResult (*dispatch)(void* refcon, ComponentInstance instance, int32_t selector,
                                void* params) = nullptr;
    // Instances the provider opened outside the manager that belong to this component.
    bool (*ownsInstance)(void* refcon, ComponentInstance instance) = nullptr;
};

// Registers a component; the flags mask of `desc` is ignored. The name and information text are
// copied (null: empty); the icon suite, when given, is copied and must hold kIconSuiteBytes.
// Null for a type of 0 or a bad icon suite.
Component registerComponent(const ComponentDescription& desc, const char* name, const char* info,
                            Handle iconSuite, const ComponentCallbacks& callbacks, void* refcon);
// Takes a component out of the catalogue; validInstancesExist while instances are open.
OSErr unregisterComponent(Component component);

// Lets a layer above this one register its components (movie controllers, sequence grabbers)
// before anybody looks for them: the layer adds an installer from a static initialiser, and the
// manager runs it on its next use, after the built-in components. Adding only stores the
// function, so it is safe before any other initialiser has run. An installer may run more than
// once (from two threads at first use) and must register its components only once; it must not
// add installers. False when the table of installers is full.
bool addComponentInstaller(void (*install)());

// The registered component that `c` names (a component or one of its instances); null when the
// manager does not know it.
Component resolveComponent(Component c);
void* componentRefcon(Component c);

// Calls the instance's component by selector: badComponentInstance for an unknown instance,
// badComponentSelector when the component answers no calls.
ComponentResult callComponent(ComponentInstance ci, int32_t selector, void* params);

// A new icon suite of one colour with a border of another (A, R, G, B packed as 0xAARRGGBB).
Handle newPlainIconSuite(uint32_t fill, uint32_t border);

} // namespace platform
