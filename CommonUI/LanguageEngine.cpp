#include "LanguageEngine.h"

#include "Log.h"
#include "Utilities.h"

#include <QDir>

#include <algorithm>
#include <climits>
#include <fstream>

namespace {

const std::string kDefaultLanguage = "English";
const std::string kLanguageHeader = "#lang:";
const std::string kVersionHeader = "#V:";
const std::string kSeparator = ":=";
constexpr int kComparedVersionComponents = 4;

// A newer file of a language found after the first one lends only the keys it has:
// the first file (the shipped one) answers the others.
struct LanguageFile
{
    std::string path;
    std::string version;
    std::string basePath;  // empty when the file stands alone
};

struct EngineState
{
    std::string applicationFolder = "Lang/";
    std::string userFolder = "Lang/";
    bool initialised = false;
    std::string currentLanguage = kDefaultLanguage;
    LanguageEngine::Dictionary current;
    LanguageEngine::Dictionary fallback;
    std::map<std::string, LanguageFile> found;
    LanguageEngine::LanguageList languages;
};

EngineState& state()
{
    static EngineState engineState;
    return engineState;
}

// Files written on Windows end their lines with CRLF.
bool readLine(std::istream& stream, std::string& line)
{
    if (!std::getline(stream, line))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Leading decimal digits as atoi reads them, saturating instead of overflowing.
int versionComponent(const std::string& text)
{
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = std::min<long long>(value * 10 + (c - '0'), INT_MAX);
    }
    return static_cast<int>(value);
}

std::vector<int> versionComponents(const std::string& version)
{
    std::vector<int> components;
    for (const std::string& piece : splitString(version, '.'))
        components.push_back(versionComponent(piece));
    components.resize(std::max<std::size_t>(components.size(), kComparedVersionComponents), 0);
    return components;
}

LanguageEngine::Dictionary dictionaryOf(const LanguageFile& file)
{
    LanguageEngine::Dictionary dictionary = LanguageEngine::loadDictionary(file.path);
    if (!file.basePath.empty())
        dictionary.merge(LanguageEngine::loadDictionary(file.basePath));
    return dictionary;
}

// How many keys of the reference the other dictionary holds.
std::size_t sharedKeyCount(const LanguageEngine::Dictionary& reference, const LanguageEngine::Dictionary& other)
{
    return static_cast<std::size_t>(std::count_if(reference.begin(), reference.end(),
                                                  [&](const auto& entry) { return other.count(entry.first) > 0; }));
}

}  // namespace

void LanguageEngine::setApplicationFolder(const std::string& path)
{
    state().applicationFolder = path;
}

void LanguageEngine::setUserFolder(const std::string& path)
{
    state().userFolder = path;
}

void LanguageEngine::ensureInitialised()
{
    if (!state().initialised)
        init();
}

void LanguageEngine::init()
{
    EngineState& s = state();
    s.initialised = true;
    s.found.clear();
    s.languages.clear();
    scanFolder(s.applicationFolder);
    scanFolder(s.userFolder);

    s.fallback.clear();
    const auto english = s.found.find(kDefaultLanguage);
    if (english != s.found.end())
        s.fallback = dictionaryOf(english->second);
    else if (!s.found.empty())
        s.fallback = dictionaryOf(s.found.begin()->second);

    for (const auto& [name, file] : s.found)
        s.languages.emplace_back(name, file.version);
    setLanguage(s.currentLanguage);
}

void LanguageEngine::scanFolder(const std::string& folder)
{
    const QDir dir(QString::fromStdString(folder));
    if (!dir.exists()) {
        logError("LanguageEngine::scanFolder", "Language folder " + folder + " does not exist");
        return;
    }
    // Sorted so that the choice between equal versions does not depend on directory order.
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& entry : entries) {
        const std::string fileName = entry.toStdString();
        if (fileName.size() < 4 || fileName.compare(fileName.size() - 4, 4, ".txt") != 0)
            continue;
        const std::string path = folder + fileName;
        const auto [name, version] = readHeader(path);
        if (name.empty()) {
            logError("LanguageEngine::scanFolder", "Skipping " + path + ": not a language file");
            continue;
        }
        const Dictionary entries = loadDictionary(path);
        if (entries.empty()) {
            logError("LanguageEngine::scanFolder", "Skipping " + path + ": no entries");
            continue;
        }
        const auto known = state().found.find(name);
        if (known == state().found.end()) {
            state().found[name] = {path, version, std::string()};
            continue;
        }
        if (!isNewerVersion(known->second.version, version))
            continue;
        const std::string basePath = known->second.basePath.empty() ? known->second.path : known->second.basePath;
        const Dictionary base = loadDictionary(basePath);
        const std::size_t shared = sharedKeyCount(base, entries);
        // A file missing most of the keys is more likely a stray draft than a translation.
        if (2 * shared < base.size()) {
            logError("LanguageEngine::scanFolder", "Ignoring " + path + ": it holds only " + std::to_string(shared) +
                                                       " of the " + std::to_string(base.size()) + " keys of " +
                                                       basePath);
            continue;
        }
        known->second = {path, version, basePath};
    }
}

std::pair<std::string, std::string> LanguageEngine::readHeader(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::string nameLine;
    std::string versionLine;
    if (!readLine(file, nameLine) || nameLine.size() <= kLanguageHeader.size() || !startsWith(nameLine, kLanguageHeader))
        return {};
    if (!readLine(file, versionLine) || versionLine.size() <= kVersionHeader.size() || !startsWith(versionLine, kVersionHeader))
        return {};
    return {nameLine.substr(kLanguageHeader.size()), versionLine.substr(kVersionHeader.size())};
}

LanguageEngine::Dictionary LanguageEngine::loadDictionary(const std::string& path)
{
    Dictionary dictionary;
    std::ifstream file(path, std::ios::binary);
    std::string line;
    while (readLine(file, line)) {
        if (!line.empty() && line.front() == '#')
            continue;
        const std::size_t separator = line.find(kSeparator);
        if (separator == std::string::npos)
            continue;
        dictionary.emplace(line.substr(0, separator), line.substr(separator + kSeparator.size()));
    }
    return dictionary;
}

bool LanguageEngine::isNewerVersion(const std::string& a, const std::string& b)
{
    const std::vector<int> older = versionComponents(a);
    const std::vector<int> newer = versionComponents(b);
    for (int i = 0; i < kComparedVersionComponents; ++i) {
        if (older[i] != newer[i])
            return newer[i] > older[i];
    }
    return false;
}

void LanguageEngine::setLanguage(const std::string& name)
{
    ensureInitialised();
    const auto language = state().found.find(name);
    if (language == state().found.end())
        return;
    state().current = dictionaryOf(language->second);
    state().currentLanguage = name;
}

std::string LanguageEngine::currentLanguage()
{
    ensureInitialised();
    return state().currentLanguage;
}

LanguageEngine::LanguageList LanguageEngine::availableLanguages()
{
    ensureInitialised();
    return state().languages;
}

std::string LanguageEngine::lookup(const std::string& key)
{
    ensureInitialised();
    const EngineState& s = state();
    const auto text = s.current.find(key);
    if (text != s.current.end())
        return text->second;
    logDebug("Traduction inexistante (" + s.currentLanguage + ") : " + key, "CommonUI\\LanguageEngine", 193);
    const auto fallback = s.fallback.find(key);
    return fallback != s.fallback.end() ? fallback->second : key;
}

QString translate(const std::string& key)
{
    return QString::fromStdString(LanguageEngine::lookup(key));
}
