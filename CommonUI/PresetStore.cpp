#include "PresetStore.h"

#include "AtomicWrite.h"
#include "Log.h"

#include <QFile>
#include <QFileInfo>

#include <tinyxml2.h>

#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <utility>

std::vector<Preset*> defaultPresets;
bool defaultPresetsLoaded = false;
std::vector<Preset*> userPresets;
bool userPresetsLoaded = false;

namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

constexpr const char* kDefaultFileName = "default.xml";
constexpr const char* kUserFileName = "user.xml";
constexpr const char* kPresetTag = "preset";
constexpr int kMaxSetAsideNames = 1000;

std::string defaultPresetsDir = "Presets/";
std::string userPresetsDir = "Presets/";
std::optional<UserPresetsRepair> pendingRepair;

// Troubles a file still has at the next load are told once, not at every load.
void reportOnce(const UserPresetsRepair& repair)
{
    static std::set<std::pair<int, std::string>> told;
    if (told.insert({static_cast<int>(repair.outcome), repair.filePath}).second)
        pendingRepair = repair;
}

// Owner of every record handed out.
std::deque<std::unique_ptr<Preset>>& records()
{
    static std::deque<std::unique_ptr<Preset>> all;
    return all;
}

Preset* keep(std::unique_ptr<Preset> record)
{
    records().push_back(std::move(record));
    return records().back().get();
}

// Child elements in the order they are written; each field is a flag or a number.
struct Field
{
    const char* tag;
    bool PresetSettings::*flag;
    int PresetSettings::*number;
};

const Field kFields[] = {
    {"applyTM", &PresetSettings::applyTM, nullptr},
    {"TMalgo", nullptr, &PresetSettings::TMalgo},
    {"alpha", nullptr, &PresetSettings::alpha},
    {"beta", nullptr, &PresetSettings::beta},
    {"gamma", nullptr, &PresetSettings::gamma},
    {"blackClip", nullptr, &PresetSettings::blackClip},
    {"whiteClip", nullptr, &PresetSettings::whiteClip},
    {"strength", nullptr, &PresetSettings::strength},
    {"exposure", nullptr, &PresetSettings::exposure},
    {"contrast", nullptr, &PresetSettings::contrast},
    {"highlights", nullptr, &PresetSettings::highlights},
    {"shadows", nullptr, &PresetSettings::shadows},
    {"whites", nullptr, &PresetSettings::whites},
    {"blacks", nullptr, &PresetSettings::blacks},
    {"hue", nullptr, &PresetSettings::hue},
    {"saturation", nullptr, &PresetSettings::saturation},
    {"vibrance", nullptr, &PresetSettings::vibrance},
    {"applySharpening", &PresetSettings::applySharpening, nullptr},
    {"sharpeningAmount", nullptr, &PresetSettings::sharpeningAmount},
    {"sharpeningRadius", nullptr, &PresetSettings::sharpeningRadius},
    {"sharpeningThreshold", nullptr, &PresetSettings::sharpeningThreshold},
};

// Unreadable: the file is there but cannot be read (permission, a folder in its
// place); it may well hold good presets, so it is never set aside or replaced.
enum class LoadResult { Loaded, Missing, Unreadable, Unparsable };

// An empty file is an empty document: deleting the last preset leaves one.
// tinyxml2 stops at a NUL byte and still reports success, so a file holding one
// would load only in part; it counts as unparsable.
LoadResult loadDocument(const std::string& path, XMLDocument& document)
{
    QFile file(QString::fromStdString(path));
    if (!file.exists())
        return LoadResult::Missing;
    if (QFileInfo(file).isDir() || !file.open(QIODevice::ReadOnly))
        return LoadResult::Unreadable;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return LoadResult::Unreadable;
    if (bytes.contains('\0'))
        return LoadResult::Unparsable;
    const tinyxml2::XMLError error = document.Parse(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (error == tinyxml2::XML_ERROR_EMPTY_DOCUMENT) {
        document.Clear();
        return LoadResult::Loaded;
    }
    return error == tinyxml2::XML_SUCCESS ? LoadResult::Loaded : LoadResult::Unparsable;
}

// Written through a temporary file, so a failure leaves the previous file whole.
bool saveDocument(const XMLDocument& document, const std::string& path)
{
    tinyxml2::XMLPrinter printer;
    document.Print(&printer);
    QString error;
    if (writeFileAtomically(QString::fromStdString(path), QByteArray(printer.CStr(), printer.CStrSize() - 1), &error))
        return true;
    logError("Error while saving user presets", "Cannot write XML file " + path + ": " + error.toStdString());
    return false;
}

// Renames an unparsable file to a free "<name>.corrupt[.n]" so that it is kept; the
// new name, or empty when it could not be moved.
std::string setAside(const std::string& path, const char* where)
{
    for (int n = 0; n < kMaxSetAsideNames; ++n) {
        const std::string target = path + ".corrupt" + (n == 0 ? std::string() : "." + std::to_string(n));
        if (QFile::exists(QString::fromStdString(target)))
            continue;
        if (!QFile::rename(QString::fromStdString(path), QString::fromStdString(target)))
            break;
        logError(where, "XML file " + path + " could not be parsed; kept as " + target);
        return target;
    }
    logError(where, "XML file " + path + " could not be parsed nor moved aside");
    return std::string();
}

// Every whole "preset" element of a damaged file that parses on its own, in file
// order: a file cut short or with a damaged element keeps the others.
void salvagePresets(const QByteArray& bytes, XMLDocument& document)
{
    const QByteArray open = QByteArray("<") + kPresetTag;
    const QByteArray close = QByteArray("</") + kPresetTag + ">";
    for (int start = bytes.indexOf(open); start >= 0; start = bytes.indexOf(open, start + 1)) {
        const int end = bytes.indexOf(close, start);
        if (end < 0)
            break;
        const QByteArray element = bytes.mid(start, end + close.size() - start);
        XMLDocument piece(true, tinyxml2::PRESERVE_WHITESPACE);
        if (element.contains('\0') ||
            piece.Parse(element.constData(), static_cast<std::size_t>(element.size())) != tinyxml2::XML_SUCCESS)
            continue;
        const XMLElement* preset = piece.FirstChildElement(kPresetTag);
        if (preset && !preset->NextSiblingElement())
            document.InsertEndChild(preset->DeepClone(&document));
    }
}

int presetElementCount(const XMLDocument& document)
{
    int count = 0;
    for (const XMLElement* element = document.FirstChildElement(kPresetTag); element;
         element = element->NextSiblingElement(kPresetTag))
        ++count;
    return count;
}

// Sets a damaged user file aside and puts in its place the presets that could be read
// from it, which document then holds. The repair waits for the window to report it.
// False when the file could not be set aside (it is left as it is).
bool repairUserFile(const std::string& path, XMLDocument& document, const char* where)
{
    QFile file(QString::fromStdString(path));
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    document.Clear();
    salvagePresets(bytes, document);
    const std::string setAsidePath = setAside(path, where);
    if (setAsidePath.empty())
        return false;
    const int kept = presetElementCount(document);
    if (kept > 0)
        saveDocument(document, path);
    pendingRepair = UserPresetsRepair{setAsidePath, kept, UserPresetsRepair::Outcome::SetAside, path};
    return true;
}

void readField(const XMLElement& element, const Field& field, Preset& record)
{
    const XMLElement* child = nullptr;
    if (field.number == &PresetSettings::TMalgo)
        child = element.FirstChildElement("TMAlgo");
    if (!child)
        child = element.FirstChildElement(field.tag);
    if (!child)
        return;
    if (field.flag) {
        child->QueryBoolText(&(record.*field.flag));
    } else {
        int value = 0;
        if (child->QueryIntText(&value) == tinyxml2::XML_SUCCESS)
            record.*field.number = value;
    }
}

Preset* readRecord(const XMLElement& element, int position)
{
    auto record = std::make_unique<Preset>();
    const XMLElement* name = element.FirstChildElement("name");
    if (!name)
        record->setName(std::to_string(position));
    else if (name->GetText())
        record->setName(name->GetText());
    for (const Field& field : kFields)
        readField(element, field, *record);
    record->setToneMappingOperator(record->TMalgo);
    return keep(std::move(record));
}

void appendPresetElement(XMLDocument& document, const Preset& record)
{
    XMLElement* element = document.NewElement(kPresetTag);
    document.InsertEndChild(element);
    element->InsertNewChildElement("name")->SetText(record.name);
    for (const Field& field : kFields) {
        XMLElement* child = element->InsertNewChildElement(field.tag);
        if (field.flag)
            child->SetText(record.*field.flag);
        else
            child->SetText(record.*field.number);
    }
}

std::string userPresetsPath()
{
    return userPresetsDir + kUserFileName;
}

}  // namespace

void setDefaultPresetsDir(const std::string& prefix)
{
    defaultPresetsDir = prefix;
}

void setUserPresetsDir(const std::string& prefix)
{
    userPresetsDir = prefix;
}

namespace {

std::vector<Preset*> recordsOf(const XMLDocument& document)
{
    std::vector<Preset*> presets;
    int position = 1;
    for (const XMLElement* element = document.FirstChildElement(kPresetTag); element;
         element = element->NextSiblingElement(), ++position)
        presets.push_back(readRecord(*element, position));
    return presets;
}

// Loads the document, logging why it could not be; a missing file only when asked.
LoadResult loadLogged(const std::string& path, XMLDocument& document, bool logMissing)
{
    const LoadResult result = loadDocument(path, document);
    switch (result) {
    case LoadResult::Missing:
        if (logMissing)
            logError("Error while loading presets", "XML file " + path + " does not exist");
        break;
    case LoadResult::Unreadable:
        logError("Error while loading presets", "XML file " + path + " cannot be read");
        break;
    case LoadResult::Unparsable:
        logError("Error while loading presets", "XML file " + path + " cannot be parsed");
        break;
    case LoadResult::Loaded:
        break;
    }
    return result;
}

}  // namespace

std::vector<Preset*> readPresetFile(const std::string& path, bool logFailure)
{
    XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    if (loadLogged(path, document, logFailure) != LoadResult::Loaded)
        return {};
    return recordsOf(document);
}

void loadDefaultPresets()
{
    defaultPresets = readPresetFile(defaultPresetsDir + kDefaultFileName, true);
    defaultPresetsLoaded = true;
}

void loadUserPresets()
{
    const std::string path = userPresetsPath();
    XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    switch (loadLogged(path, document, false)) {
    case LoadResult::Unparsable:
        // Set aside at once, so that the next addition neither loses these presets nor
        // moves the file silently; where it cannot be, they are shown all the same.
        if (!repairUserFile(path, document, "loadUserPresets"))
            reportOnce({std::string(), presetElementCount(document), UserPresetsRepair::Outcome::KeptInMemory, path});
        break;
    case LoadResult::Unreadable:
        document.Clear();
        reportOnce({std::string(), 0, UserPresetsRepair::Outcome::Unreadable, path});
        break;
    case LoadResult::Missing:
        document.Clear();
        break;
    case LoadResult::Loaded:
        break;
    }
    userPresets = recordsOf(document);
    userPresetsLoaded = true;
}

std::optional<UserPresetsRepair> takeUserPresetsRepair()
{
    return std::exchange(pendingRepair, std::nullopt);
}

bool appendUserPreset(Preset* record)
{
    if (!record)
        return false;
    std::unique_ptr<Preset> owned(record);

    const std::string path = userPresetsPath();
    XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    switch (loadDocument(path, document)) {
    case LoadResult::Unreadable:
        logError("appendUserPreset", "XML file " + path + " cannot be read; preset not saved");
        return false;
    case LoadResult::Unparsable:
        if (!repairUserFile(path, document, "appendUserPreset")) {
            logError("appendUserPreset", "Preset not saved");
            return false;
        }
        break;
    case LoadResult::Missing:
    case LoadResult::Loaded:
        break;
    }
    appendPresetElement(document, *record);
    if (!saveDocument(document, path))
        return false;
    userPresets.push_back(keep(std::move(owned)));
    return true;
}

bool deleteUserPresetFromFile(int index)
{
    const std::string path = userPresetsPath();
    XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    const LoadResult loaded = loadDocument(path, document);
    if (loaded == LoadResult::Unreadable) {
        logError("Error while loading user presets", "XML file " + path + " cannot be read");
        return false;
    }
    if (index >= 0 && index < static_cast<int>(userPresets.size()))
        userPresets.erase(userPresets.begin() + index);

    if (loaded != LoadResult::Loaded) {
        logError("Error while loading user presets",
                 "XML file " + path + (loaded == LoadResult::Missing ? " does not exist" : " cannot be parsed"));
        return false;
    }
    int count = 0;
    for (XMLElement* element = document.FirstChildElement(kPresetTag); element;
         element = element->NextSiblingElement(), ++count) {
        if (count == index) {
            document.DeleteNode(element);
            break;
        }
    }
    return saveDocument(document, path);
}
