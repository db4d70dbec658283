// The graphics exporters over the codec engines. Each exporter instance keeps its input, its
// output and its settings in a table of this file, keyed by the instance the component manager
// made; the manager's open and close callbacks add and remove the entries. An export works on a
// copy of the instance's entry, so that the table is never locked while pixels are read, encoded
// or written.
#include "PlatformGraphicsExport.h"
#include "PlatformGraphicsMetaData.h"
#include "PlatformPictures.h"

#include "PlatformCodecEngines.h"
#include "PlatformCodecRegistry.h"
#include "PlatformDataRef.h"
#include "PlatformEndian.h"
#include "PlatformFixed.h"
#include "PlatformGraphicsImport.h"
#include "PlatformMemory.h"
#include "PlatformPendingDisplayCalls.h"
#include "PlatformPixelFormats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace codec = platform::codec;
using codec::Format;

struct Kind {
    OSType subType;
    Format format;
    OSType extension;
    const char* name;
};

constexpr Kind kKinds[] = {
    {kQTFileTypePNGExport, Format::PNG, FOUR_CHAR_CODE("png "), "PNG"},
    {kQTFileTypeBMPExport, Format::BMP, FOUR_CHAR_CODE("bmp "), "BMP"},
    {kQTFileTypeJPEGExport, Format::JPEG, FOUR_CHAR_CODE("jpg "), "JPEG"},
    {kQTFileTypeJPEG2000Export, Format::JPEG2000, FOUR_CHAR_CODE("jp2 "), "JPEG 2000"},
};

constexpr Fixed kDefaultResolution = Fixed(72) << 16;

enum class InputKind { None, World, PixMap, Data, DataHandle, Picture, CGImage, CGContext };
enum class OutputKind { None, File, Handle };

// What an exporter reads. The CG objects are retained by whoever holds the record.
struct Input {
    InputKind kind = InputKind::None;
    GWorldPtr world = nullptr;
    PixMapHandle pixMap = nullptr;
    const uint8_t* data = nullptr;
    size_t dataSize = 0;
    Handle dataHandle = nullptr;
    ImageDescriptionHandle desc = nullptr;
    PicHandle picture = nullptr;
    CGImageRef image = nullptr;
    CGContextRef context = nullptr;
};

void retain(const Input& in) {
    CGImageRetain(in.image);
    CGContextRetain(in.context);
}

void release(const Input& in) {
    CGImageRelease(in.image);
    CGContextRelease(in.context);
}

struct Exporter {
    const Kind* kind = nullptr;
    Input input;
    OutputKind output = OutputKind::None;
    std::string path;
    Handle handle = nullptr;
    CodecQ quality = codecNormalQuality;
    int32_t depth = 0;
    Fixed hRes = kDefaultResolution;
    Fixed vRes = kDefaultResolution;
    UInt32 targetDataSize = 0;
    Boolean dontRecompress = 0;
    OSType fileType = 0;
    OSType fileCreator = 0;
    ICMProgressProcRecord progress{nullptr, 0};
};

struct Table {
    std::mutex mutex;
    std::map<ComponentInstance, Exporter> exporters;
};

Table& table() {
    static Table* t = new Table(); // lives as long as the process, as the components do
    return *t;
}

OSErr openExporter(void* refcon, Component, ComponentInstance* instance) {
    const Kind* kind = static_cast<const Kind*>(refcon);
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    try {
        Exporter& e = t.exporters[*instance];
        e = Exporter();
        e.kind = kind;
        e.fileType = kind->subType;
        e.fileCreator = platform::kVendorCode;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    return noErr;
}

OSErr closeExporter(void*, ComponentInstance instance) {
    platform::forgetGraphicsMetaData(instance);
    Input input;
    {
        Table& t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.exporters.find(instance);
        if (it == t.exporters.end()) return noErr;
        input = it->second.input;
        t.exporters.erase(it);
    }
    // Outside the lock: a release may run a caller's callback.
    release(input);
    return noErr;
}

// Runs `change` on the instance's entry; badComponentInstance for an instance that is no
// exporter.
template <class F> ComponentResult update(ComponentInstance ci, F change) {
    platform::installGraphicsExporters();
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.exporters.find(ci);
    if (!ci || it == t.exporters.end()) return badComponentInstance;
    return change(it->second);
}

// `status` for an exporter, badComponentInstance for anything else.
ComponentResult refuse(ComponentInstance ci, ComponentResult status) {
    return update(ci, [&](Exporter&) { return status; });
}

// A copy of the instance's entry, its CG objects retained for the copy; false for an instance
// that is no exporter.
bool snapshot(ComponentInstance ci, Exporter& out) {
    platform::installGraphicsExporters();
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.exporters.find(ci);
    if (!ci || it == t.exporters.end()) return false;
    out = it->second;
    retain(out.input);
    return true;
}

// Makes `in` (whose CG objects the caller has retained for it) the instance's input, and
// releases the one it replaces, or `in` itself when the instance is no exporter.
ComponentResult setInput(ComponentInstance ci, const Input& in) {
    Input old = in;
    const ComponentResult result = update(ci, [&](Exporter& e) {
        old = e.input;
        e.input = in;
        return ComponentResult(noErr);
    });
    release(old);
    return result;
}

bool usableDescription(ImageDescriptionHandle desc) {
    return desc && *desc && GetHandleSize(reinterpret_cast<Handle>(desc)) >= Size(sizeof(ImageDescription));
}

bool pictureFrame(PicHandle picture, Rect& frame) {
    return QDGetPictureBounds(picture, &frame) == noErr && frame.right > frame.left &&
           frame.bottom > frame.top;
}

// The picture drawn into a 32-bit world of its frame, erased to white first so that what the
// picture leaves unpainted is the page it was drawn on.
OSErr drawnPicture(PicHandle picture, codec::Picture& out) {
    Rect frame{};
    if (!pictureFrame(picture, frame)) return paramErr;
    GWorldPtr world = nullptr;
    const QDErr made = QTNewGWorld(&world, k32ARGBPixelFormat, &frame, nullptr, nullptr, 0);
    if (made != noErr) return made;
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(world, nullptr);
    EraseRect(&frame);
    DrawPicture(picture, &frame);
    OSErr err = QDError();
    SetGWorld(savedPort, savedDevice);
    if (err == noErr) err = platform::pixMapToPicture(GetGWorldPixMap(world), out);
    DisposeGWorld(world);
    return err;
}

// The input's pixels.
OSErr inputPicture(const Input& in, codec::Picture& out) {
    out = codec::Picture();
    switch (in.kind) {
    case InputKind::World:
        if (!platform::isGWorld(in.world)) return paramErr;
        return platform::pixMapToPicture(GetGWorldPixMap(in.world), out);
    case InputKind::PixMap:
        return platform::pixMapToPicture(in.pixMap, out);
    case InputKind::Data:
        return platform::codecDecodeFrame(in.desc, in.data, in.dataSize, out);
    case InputKind::DataHandle: {
        if (!in.dataHandle || !*in.dataHandle) return paramErr;
        const Size n = GetHandleSize(in.dataHandle);
        if (n <= 0) return paramErr;
        return platform::codecDecodeFrame(in.desc, reinterpret_cast<const uint8_t*>(*in.dataHandle),
                                          size_t(n), out);
    }
    case InputKind::Picture:
        return drawnPicture(in.picture, out);
    case InputKind::CGImage:
        return platform::cgImageToPicture(in.image, out);
    case InputKind::CGContext:
        return platform::cgBitmapContextToPicture(in.context, out);
    case InputKind::None:
        break;
    }
    return paramErr;
}

// The shape a picture is written in.
struct Shape {
    int32_t components;
    int32_t bitsPerSample;
    int32_t precision;
};

Shape shapeFor(const Kind& kind, int32_t depth, const codec::Picture& in) {
    const bool holdsAlpha = kind.format != Format::JPEG;
    const bool holdsWide = kind.format == Format::PNG || kind.format == Format::JPEG2000;
    Shape s{in.components, holdsWide ? in.bitsPerSample : 8, 0};
    switch (depth) {
    case 8:
    case 40:
        s = {1, 8, 0};
        break;
    case 24:
        s = {3, 8, 0};
        break;
    case 32:
        s = {holdsAlpha ? 4 : 3, 8, 0};
        break;
    default:
        // Grey with alpha is PNG's alone: the others take it as colour with alpha, or grey.
        if (s.components == 2 && kind.format != Format::PNG) s.components = holdsAlpha ? 4 : 1;
        if (s.components == 4 && !holdsAlpha) s.components = 3;
        break;
    }
    // A JPEG 2000 stream records the samples' precision; the other formats read a sample against
    // the whole of its storage, so fewer significant bits are scaled up to it.
    s.precision = kind.format == Format::JPEG2000 && s.bitsPerSample == in.bitsPerSample ? in.precision
                                                                                         : s.bitsPerSample;
    return s;
}

// `in` in the shape `s`: colour to grey by the platform's weights, grey to colour by copying,
// missing alpha opaque, samples scaled between precisions, rounded.
OSErr reshape(const codec::Picture& in, const Shape& s, codec::Picture& out) {
    out = codec::Picture();
    out.width = in.width;
    out.height = in.height;
    out.components = s.components;
    out.bitsPerSample = s.bitsPerSample;
    out.precision = s.precision;
    try {
        out.samples.resize(out.rowBytes() * size_t(out.height));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    const uint32_t topIn = (1u << in.precision) - 1u, topOut = (1u << s.precision) - 1u;
    const bool wideIn = in.bitsPerSample == 16, wideOut = s.bitsPerSample == 16;
    const size_t compsIn = size_t(in.components), compsOut = size_t(s.components);
    auto scale = [&](uint32_t v) -> uint32_t {
        v = std::min(v, topIn);
        if (topIn == topOut) return v;
        // 16 bits to 8 as every other conversion of the platform takes them.
        if (topIn == 0xFFFF && topOut == 0xFF) return platform::to8(uint16_t(v));
        return uint32_t((uint64_t(v) * topOut + topIn / 2) / topIn);
    };
    const size_t count = size_t(in.width) * size_t(in.height);
    for (size_t i = 0; i < count; ++i) {
        uint32_t v[4] = {0, 0, 0, 0};
        for (size_t c = 0; c < compsIn; ++c) {
            if (wideIn) {
                uint16_t w;
                std::memcpy(&w, in.samples.data() + (i * compsIn + c) * 2, 2);
                v[c] = w;
            } else {
                v[c] = in.samples[i * compsIn + c];
            }
        }
        uint32_t r, g, b, a = topIn;
        if (compsIn <= 2) {
            r = g = b = v[0];
            if (compsIn == 2) a = v[1];
        } else {
            r = v[0], g = v[1], b = v[2];
            if (compsIn == 4) a = v[3];
        }
        uint32_t o[4];
        if (compsOut <= 2) {
            o[0] = compsIn <= 2 ? r : (117u * b + 601u * g + 306u * r) >> 10;
            o[1] = a;
        } else {
            o[0] = r, o[1] = g, o[2] = b, o[3] = a;
        }
        for (size_t c = 0; c < compsOut; ++c) {
            const uint32_t value = scale(o[c]);
            if (wideOut) {
                const uint16_t w = uint16_t(value);
                std::memcpy(out.samples.data() + (i * compsOut + c) * 2, &w, 2);
            } else {
                out.samples[i * compsOut + c] = uint8_t(value);
            }
        }
    }
    return noErr;
}

// Tells the exporter's progress procedure, when it has one, how far the export is.
void report(const Exporter& e, int16_t message, Fixed completeness) {
    if (e.progress.progressProc)
        (void)e.progress.progressProc(message, completeness, e.progress.progressRefCon);
}

OSErr encodeInput(const Exporter& e, std::vector<uint8_t>& stream) {
    stream.clear();
    codec::Picture picture;
    OSErr err = inputPicture(e.input, picture);
    if (err != noErr) return err;
    report(e, kICMProgressUpdate, fixed1 / 3);
    if (!picture.isConsistent() || picture.components < 1 || picture.components > 4 ||
        (picture.bitsPerSample != 8 && picture.bitsPerSample != 16) || picture.precision < 1 ||
        picture.precision > picture.bitsPerSample)
        return paramErr;
    const Shape shape = shapeFor(*e.kind, e.depth, picture);
    if (shape.components != picture.components || shape.bitsPerSample != picture.bitsPerSample ||
        shape.precision != picture.precision) {
        codec::Picture shaped;
        err = reshape(picture, shape, shaped);
        if (err != noErr) return err;
        picture = std::move(shaped);
    }
    codec::EncodeOptions options;
    options.quality = e.quality;
    return codec::encode(e.kind->format, picture, options, stream, e.kind->format == Format::JPEG2000);
}

// Writes the stream to a new file beside `path` and puts it in its place, so that the file at
// `path` is either left as it was or holds the whole stream.
OSErr replaceFile(const std::string& path, const std::vector<uint8_t>& stream, OSType fileType,
                  OSType fileCreator) {
    std::string target = path;
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists) {
        if (S_ISDIR(existing.st_mode)) return ioErr;
        // Through a symbolic link, the file it names is the one replaced.
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    // Written beside the file and put in place whole, as every file is.
    PlatformSafeFile file;
    if (OSErr err = file.open(target.c_str())) return err == fnfErr || err == dirNFErr ? fnfErr : ioErr;
    file.write(stream.data(), stream.size());
    if (file.commit() != noErr) return ioErr;
    FSSpec spec{};
    if (target.size() < sizeof spec.path) {
        std::memcpy(spec.path, target.c_str(), target.size() + 1);
        FInfo info{};
        info.fdType = fileType;
        info.fdCreator = fileCreator;
        FSpSetFInfo(&spec, &info); // a volume without extended attributes keeps the file all the same
    }
    return noErr;
}

OSErr writeOutput(const Exporter& e, const std::vector<uint8_t>& stream) {
    switch (e.output) {
    case OutputKind::File:
        return replaceFile(e.path, stream, e.fileType, e.fileCreator);
    case OutputKind::Handle:
        if (stream.size() > size_t(INT32_MAX)) return memFullErr;
        return PtrToXHand(stream.data(), e.handle, Size(stream.size()));
    case OutputKind::None:
        break;
    }
    return dataNoDataRef;
}

// The platform's own progress procedure: there is nothing to show progress in.
OSErr platformProgress(int16_t, Fixed, intptr_t) {
    return noErr;
}

// The settings that travel as atoms.
struct Settings {
    CodecQ quality = codecNormalQuality;
    int32_t depth = 0;
    Fixed hRes = kDefaultResolution;
    Fixed vRes = kDefaultResolution;
    UInt32 targetDataSize = 0;
    Boolean dontRecompress = 0;
    OSType fileType = 0;
    OSType fileCreator = 0;
};

Settings settingsOf(const Exporter& e) {
    return Settings{e.quality,        e.depth,          e.hRes,     e.vRes,
                    e.targetDataSize, e.dontRecompress, e.fileType, e.fileCreator};
}

bool writableDepth(int32_t depth) {
    return depth == 0 || depth == 8 || depth == 24 || depth == 32 || depth == 40;
}

// The bytes of the first atom of `type` at the root: `found` false when there is none; false when
// it is there with another size or cannot be read.
bool settingsAtom(QTAtomContainer container, QTAtomType type, int32_t size, uint8_t* out, bool& found) {
    found = false;
    const QTAtom atom = QTFindChildByIndex(container, 0, type, 1, nullptr);
    if (!atom) return true;
    found = true;
    int32_t actual = -1;
    Ptr data = nullptr;
    if (QTGetAtomDataPtr(container, atom, &actual, &data) != noErr || actual != size || !data) return false;
    std::memcpy(out, data, size_t(size));
    return true;
}

// Reads the settings the container holds over `s`; paramErr for a malformed one.
OSErr readSettings(QTAtomContainer container, Settings& s) {
    uint8_t bytes[8];
    bool found = false;
    if (!settingsAtom(container, kGraphicsExportQualityAtom, 4, bytes, found)) return paramErr;
    if (found) {
        s.quality = platform::loadBE32(bytes);
        if (s.quality > codecLosslessQuality) return paramErr;
    }
    if (!settingsAtom(container, kGraphicsExportDepthAtom, 4, bytes, found)) return paramErr;
    if (found) {
        s.depth = int32_t(platform::loadBE32(bytes));
        if (!writableDepth(s.depth)) return paramErr;
    }
    if (!settingsAtom(container, kGraphicsExportResolutionAtom, 8, bytes, found)) return paramErr;
    if (found) {
        s.hRes = Fixed(platform::loadBE32(bytes));
        s.vRes = Fixed(platform::loadBE32(bytes + 4));
        if (s.hRes <= 0 || s.vRes <= 0) return paramErr;
    }
    if (!settingsAtom(container, kGraphicsExportTargetDataSizeAtom, 4, bytes, found)) return paramErr;
    if (found) s.targetDataSize = platform::loadBE32(bytes);
    if (!settingsAtom(container, kGraphicsExportDontRecompressAtom, 1, bytes, found)) return paramErr;
    if (found) {
        if (bytes[0] > 1) return paramErr;
        s.dontRecompress = bytes[0];
    }
    if (!settingsAtom(container, kGraphicsExportOutputTypeAtom, 8, bytes, found)) return paramErr;
    if (found) {
        s.fileType = platform::loadBE32(bytes);
        s.fileCreator = platform::loadBE32(bytes + 4);
    }
    return noErr;
}

OSErr writeSettings(const Settings& s, QTAtomContainer container) {
    uint8_t quality[4], depth[4], resolution[8], target[4], dontRecompress[1], output[8];
    platform::storeBE32(quality, s.quality);
    platform::storeBE32(depth, uint32_t(s.depth));
    platform::storeBE32(resolution, uint32_t(s.hRes));
    platform::storeBE32(resolution + 4, uint32_t(s.vRes));
    platform::storeBE32(target, s.targetDataSize);
    dontRecompress[0] = s.dontRecompress ? 1 : 0;
    platform::storeBE32(output, s.fileType);
    platform::storeBE32(output + 4, s.fileCreator);
    const struct {
        QTAtomType type;
        int32_t size;
        const uint8_t* data;
    } atoms[] = {
        {kGraphicsExportQualityAtom, 4, quality},
        {kGraphicsExportDepthAtom, 4, depth},
        {kGraphicsExportResolutionAtom, 8, resolution},
        {kGraphicsExportTargetDataSizeAtom, 4, target},
        {kGraphicsExportDontRecompressAtom, 1, dontRecompress},
        {kGraphicsExportOutputTypeAtom, 8, output},
    };
    for (const auto& a : atoms) {
        const OSErr err = QTInsertChild(container, 0, a.type, 0, 0, a.size, a.data, nullptr);
        if (err != noErr) return err;
    }
    return noErr;
}

// A four-character code as its characters when they are printable, else in hexadecimal.
std::string codeText(OSType code) {
    char text[16];
    const char c[4] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
    bool printable = true;
    for (char ch : c)
        printable = printable && ch >= 0x20 && ch <= 0x7E;
    if (printable) return std::string(c, 4);
    std::snprintf(text, sizeof text, "0x%08X", unsigned(code));
    return text;
}

// A resolution in Fixed as a decimal number with up to two decimals (no locale involved).
std::string resolutionText(Fixed value) {
    const int64_t hundredths = (int64_t(value) * 100 + 0x8000) >> 16;
    std::string text = std::to_string(hundredths / 100);
    const int64_t fraction = hundredths % 100;
    if (fraction != 0) {
        text += '.';
        text += char('0' + fraction / 10);
        if (fraction % 10 != 0) text += char('0' + fraction % 10);
    }
    return text;
}

std::string settingsText(const char* format, const Settings& s) {
    std::string text;
    text += std::string("Format=") + format + "\n";
    text += "Quality=" + std::to_string(s.quality) + "\n";
    text += "Depth=" + std::to_string(s.depth) + "\n";
    text += "Resolution=" + resolutionText(s.hRes) + " x " + resolutionText(s.vRes) + " dpi\n";
    text += "Target data size=" + std::to_string(s.targetDataSize) + "\n";
    text += std::string("Don't recompress=") + (s.dontRecompress ? "YES" : "NO") + "\n";
    text += "File type=" + codeText(s.fileType) + "\n";
    text += "File creator=" + codeText(s.fileCreator) + "\n";
    return text;
}

// Which selectors an exporter answers yes to through kComponentCanDoSelect.
ComponentResult dispatchExporter(void*, ComponentInstance, int32_t selector, void* params) {
    if (selector != kComponentCanDoSelect) return badComponentSelector;
    if (!params) return paramErr;
    int16_t asked = 0;
    std::memcpy(&asked, params, sizeof asked);
    switch (asked) {
    case int16_t(kComponentCanDoSelect):
    case kGraphicsExportRequestSettingsSelect:
    case kGraphicsExportSetMetaDataSelect:
    case kGraphicsExportGetMetaDataSelect:
        return 1;
    default:
        return 0;
    }
}

// The path of a file record, or the empty text when it holds none.
std::string pathOf(const FSSpec& file) {
    const size_t n = strnlen(file.path, sizeof file.path);
    return n < sizeof file.path ? std::string(file.path, n) : std::string();
}

} // namespace

namespace platform {

void installGraphicsExporters() {
    static std::once_flag once;
    std::call_once(once, [] {
        Handle icon = newPlainIconSuite(0xFFD0F0F0u, 0xFF404040u);
        for (const Kind& k : kKinds) {
            ComponentCallbacks callbacks;
            callbacks.open = openExporter;
            callbacks.close = closeExporter;
            callbacks.dispatch = dispatchExporter;
            const std::string info = std::string("Exports ") + k.name + " images";
            registerComponent({GraphicsExporterComponentType, k.subType, kVendorCode, cmpThreadSafe, 0},
                              k.name, info.c_str(), icon, callbacks, const_cast<Kind*>(&k));
        }
        if (icon) DisposeHandle(icon);
    });
}

} // namespace platform

OSErr OpenADefaultComponent(OSType componentType, OSType componentSubType, ComponentInstance* ci) {
    if (ci) *ci = nullptr;
    if (!ci) return paramErr;
    // The importers and exporters are registered on first use; they are found here like any other.
    platform::installGraphicsImporters();
    platform::installGraphicsExporters();
    ComponentDescription looking{componentType, componentSubType, kAnyComponentManufacturer, 0,
                                 kAnyComponentFlagsMask};
    Component c = FindNextComponent(nullptr, &looking);
    if (!c) return cantFindHandler;
    return OpenAComponent(c, ci);
}

ComponentResult GraphicsExportSetInputGWorld(GraphicsExportComponent exporter, GWorldPtr gworld) {
    if (!platform::isGWorld(gworld)) return refuse(exporter, paramErr);
    Input in;
    in.kind = InputKind::World;
    in.world = gworld;
    return setInput(exporter, in);
}

ComponentResult GraphicsExportSetInputPixmap(GraphicsExportComponent exporter, PixMapHandle pixmap) {
    // Only a world's pixel map has a depth.
    if (GetPixDepth(pixmap) == 0) return refuse(exporter, paramErr);
    Input in;
    in.kind = InputKind::PixMap;
    in.pixMap = pixmap;
    return setInput(exporter, in);
}

ComponentResult GraphicsExportSetInputPtr(GraphicsExportComponent exporter, Ptr p, UInt32 size,
                                          ImageDescriptionHandle desc) {
    if (!p || size == 0 || !usableDescription(desc)) return refuse(exporter, paramErr);
    Input in;
    in.kind = InputKind::Data;
    in.data = reinterpret_cast<const uint8_t*>(p);
    in.dataSize = size;
    in.desc = desc;
    return setInput(exporter, in);
}

ComponentResult GraphicsExportSetInputHandle(GraphicsExportComponent exporter, Handle h,
                                             ImageDescriptionHandle desc) {
    if (!h || !*h || !usableDescription(desc)) return refuse(exporter, paramErr);
    Input in;
    in.kind = InputKind::DataHandle;
    in.dataHandle = h;
    in.desc = desc;
    return setInput(exporter, in);
}

ComponentResult GraphicsExportSetInputPicture(GraphicsExportComponent exporter, PicHandle picture) {
    Rect frame{};
    if (!pictureFrame(picture, frame)) return refuse(exporter, paramErr);
    Input in;
    in.kind = InputKind::Picture;
    in.picture = picture;
    return setInput(exporter, in);
}

ComponentResult GraphicsExportSetInputCGImage(GraphicsExportComponent exporter, CGImageRef image) {
    // Asked of the CF-like object, so that another kind of object given as an image is told apart.
    if (!image || CFGetTypeID(reinterpret_cast<CFTypeRef>(image)) != CGImageGetTypeID())
        return refuse(exporter, paramErr);
    Input in;
    in.kind = InputKind::CGImage;
    in.image = CGImageRetain(image);
    return setInput(exporter, in);
}

ComponentResult GraphicsExportSetInputCGBitmapContext(GraphicsExportComponent exporter,
                                                      CGContextRef context) {
    if (!context || CFGetTypeID(reinterpret_cast<CFTypeRef>(context)) != CGContextGetTypeID())
        return refuse(exporter, paramErr);
    Input in;
    in.kind = InputKind::CGContext;
    in.context = CGContextRetain(context);
    return setInput(exporter, in);
}

ComponentResult GraphicsExportSetOutputFile(GraphicsExportComponent exporter, const FSSpec* file) {
    const std::string path = file ? pathOf(*file) : std::string();
    return update(exporter, [&](Exporter& e) {
        if (path.empty()) return ComponentResult(paramErr);
        e.output = OutputKind::File;
        e.path = path;
        e.handle = nullptr;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportSetOutputHandle(GraphicsExportComponent exporter, Handle h) {
    return update(exporter, [&](Exporter& e) {
        if (!h) return ComponentResult(paramErr);
        e.output = OutputKind::Handle;
        e.path.clear();
        e.handle = h;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportSetOutputDataReference(GraphicsExportComponent exporter, Handle dataRef,
                                                     OSType dataRefType) {
    // The reference is read now: the caller may dispose of it once it is set.
    ComponentResult status = noErr;
    std::string path;
    Handle target = nullptr;
    if (!dataRef || !*dataRef) {
        status = paramErr;
    } else if (dataRefType == AliasDataHandlerSubType) {
        path = platform::aliasPath(dataRef);
        if (path.empty()) status = couldNotResolveDataRef;
    } else if (dataRefType == HandleDataHandlerSubType) {
        if (GetHandleSize(dataRef) >= Size(sizeof(Handle))) std::memcpy(&target, *dataRef, sizeof(Handle));
        if (!target) status = paramErr;
    } else {
        status = cantFindHandler;
    }
    return update(exporter, [&](Exporter& e) {
        if (status != noErr) return status;
        e.output = target ? OutputKind::Handle : OutputKind::File;
        e.path = path;
        e.handle = target;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportDoExport(GraphicsExportComponent exporter, UInt32* actualSizeWritten) {
    if (actualSizeWritten) *actualSizeWritten = 0;
    Exporter e;
    if (!snapshot(exporter, e)) return badComponentInstance;
    OSErr err = noErr;
    std::vector<uint8_t> stream;
    if (e.input.kind == InputKind::None) {
        err = paramErr;
    } else if (e.output == OutputKind::None) {
        err = dataNoDataRef;
    } else {
        report(e, kICMProgressOpen, 0);
        report(e, kICMProgressUpdate, 0);
        err = encodeInput(e, stream);
        if (err == noErr && stream.size() > size_t(UINT32_MAX)) err = memFullErr;
        if (err == noErr) {
            report(e, kICMProgressUpdate, 2 * (fixed1 / 3));
            err = writeOutput(e, stream);
        }
    }
    release(e.input);
    if (err != noErr) return err;
    if (actualSizeWritten) *actualSizeWritten = UInt32(stream.size());
    report(e, kICMProgressUpdate, fixed1);
    report(e, kICMProgressClose, fixed1);
    return noErr;
}

ComponentResult GraphicsExportSetCompressionQuality(GraphicsExportComponent exporter, CodecQ spatialQuality) {
    return update(exporter, [&](Exporter& e) {
        e.quality = std::min(spatialQuality, codecLosslessQuality);
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportGetCompressionQuality(GraphicsExportComponent exporter,
                                                    CodecQ* spatialQuality) {
    return update(exporter, [&](Exporter& e) {
        if (!spatialQuality) return ComponentResult(paramErr);
        *spatialQuality = e.quality;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportSetDepth(GraphicsExportComponent exporter, int32_t depth) {
    return update(exporter, [&](Exporter& e) {
        if (depth != 0 && depth != 8 && depth != 24 && depth != 32 && depth != 40)
            return ComponentResult(paramErr);
        e.depth = depth;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportGetDepth(GraphicsExportComponent exporter, int32_t* depth) {
    return update(exporter, [&](Exporter& e) {
        if (!depth) return ComponentResult(paramErr);
        *depth = e.depth;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportSetResolution(GraphicsExportComponent exporter, Fixed horizontalResolution,
                                            Fixed verticalResolution) {
    return update(exporter, [&](Exporter& e) {
        if (horizontalResolution <= 0 || verticalResolution <= 0) return ComponentResult(paramErr);
        e.hRes = horizontalResolution;
        e.vRes = verticalResolution;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportGetResolution(GraphicsExportComponent exporter, Fixed* horizontalResolution,
                                            Fixed* verticalResolution) {
    return update(exporter, [&](Exporter& e) {
        if (!horizontalResolution || !verticalResolution) return ComponentResult(paramErr);
        *horizontalResolution = e.hRes;
        *verticalResolution = e.vRes;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportSetTargetDataSize(GraphicsExportComponent exporter, UInt32 targetDataSize) {
    return update(exporter, [&](Exporter& e) {
        e.targetDataSize = targetDataSize;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportGetTargetDataSize(GraphicsExportComponent exporter, UInt32* targetDataSize) {
    return update(exporter, [&](Exporter& e) {
        if (!targetDataSize) return ComponentResult(paramErr);
        *targetDataSize = e.targetDataSize;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportSetDontRecompress(GraphicsExportComponent exporter, Boolean dontRecompress) {
    return update(exporter, [&](Exporter& e) {
        e.dontRecompress = dontRecompress ? 1 : 0;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportGetDontRecompress(GraphicsExportComponent exporter, Boolean* dontRecompress) {
    return update(exporter, [&](Exporter& e) {
        if (!dontRecompress) return ComponentResult(paramErr);
        *dontRecompress = e.dontRecompress;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportGetDefaultFileTypeAndCreator(GraphicsExportComponent exporter, OSType* fileType,
                                                           OSType* fileCreator) {
    return update(exporter, [&](Exporter& e) {
        if (!fileType || !fileCreator) return ComponentResult(paramErr);
        *fileType = e.kind->subType;
        *fileCreator = platform::kVendorCode;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportGetDefaultFileNameExtension(GraphicsExportComponent exporter,
                                                          OSType* fileNameExtension) {
    return update(exporter, [&](Exporter& e) {
        if (!fileNameExtension) return ComponentResult(paramErr);
        *fileNameExtension = e.kind->extension;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportSetOutputFileTypeAndCreator(GraphicsExportComponent exporter, OSType fileType,
                                                          OSType fileCreator) {
    return update(exporter, [&](Exporter& e) {
        e.fileType = fileType;
        e.fileCreator = fileCreator;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportGetOutputFileTypeAndCreator(GraphicsExportComponent exporter, OSType* fileType,
                                                          OSType* fileCreator) {
    return update(exporter, [&](Exporter& e) {
        if (!fileType || !fileCreator) return ComponentResult(paramErr);
        *fileType = e.fileType;
        *fileCreator = e.fileCreator;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportGetSettingsAsAtomContainer(GraphicsExportComponent exporter,
                                                         QTAtomContainer* qtAtomContainer) {
    if (qtAtomContainer) *qtAtomContainer = nullptr;
    Settings settings;
    const ComponentResult found = update(exporter, [&](Exporter& e) {
        if (!qtAtomContainer) return ComponentResult(paramErr);
        settings = settingsOf(e);
        return ComponentResult(noErr);
    });
    if (found != noErr) return found;
    QTAtomContainer container = nullptr;
    OSErr err = QTNewAtomContainer(&container);
    if (err == noErr) err = writeSettings(settings, container);
    if (err != noErr) {
        if (container) QTDisposeAtomContainer(container);
        return err;
    }
    *qtAtomContainer = container;
    return noErr;
}

ComponentResult GraphicsExportSetSettingsFromAtomContainer(GraphicsExportComponent exporter,
                                                           QTAtomContainer qtAtomContainer) {
    return update(exporter, [&](Exporter& e) {
        if (!qtAtomContainer) return ComponentResult(paramErr);
        // Read over a copy, so that a container refused halfway changes nothing.
        Settings s = settingsOf(e);
        const OSErr err = readSettings(qtAtomContainer, s);
        if (err != noErr) return ComponentResult(err);
        e.quality = s.quality;
        e.depth = s.depth;
        e.hRes = s.hRes;
        e.vRes = s.vRes;
        e.targetDataSize = s.targetDataSize;
        e.dontRecompress = s.dontRecompress;
        e.fileType = s.fileType;
        e.fileCreator = s.fileCreator;
        return ComponentResult(noErr);
    });
}

ComponentResult GraphicsExportGetSettingsAsText(GraphicsExportComponent exporter, Handle* theText) {
    if (theText) *theText = nullptr;
    std::string text;
    const ComponentResult found = update(exporter, [&](Exporter& e) {
        if (!theText) return ComponentResult(paramErr);
        try {
            text = settingsText(e.kind->name, settingsOf(e));
        } catch (const std::bad_alloc&) {
            return ComponentResult(memFullErr);
        }
        return ComponentResult(noErr);
    });
    if (found != noErr) return found;
    Handle h = nullptr;
    const OSErr err = PtrToHand(text.data(), &h, Size(text.size()));
    if (err != noErr) return err;
    *theText = h;
    return noErr;
}

ComponentResult GraphicsExportRequestSettings(GraphicsExportComponent exporter, void*, void*) {
    return refuse(exporter, userCanceledErr);
}

ComponentResult GraphicsExportSetProgressProc(GraphicsExportComponent exporter,
                                              const ICMProgressProcRecord* progressProc) {
    ICMProgressProcRecord record{nullptr, 0};
    if (progressProc == kGraphicsExportDefaultProgress)
        record.progressProc = platformProgress;
    else if (progressProc && progressProc->progressProc)
        record = *progressProc;
    return update(exporter, [&](Exporter& e) {
        e.progress = record;
        return ComponentResult(noErr);
    });
}
