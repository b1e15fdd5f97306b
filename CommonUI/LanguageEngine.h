#pragma once
#include <QString>

#include <map>
#include <string>
#include <utility>
#include <vector>

// Process-wide translation tables, read from one text file per language.
// A language file starts with "#lang:<name>" and "#V:<version>"; every other
// line of the form key:=value is an entry (first occurrence of a key wins).
// A newer file of a language found after the first one (the user's folder is
// scanned after the application's) lends only the keys it has; the first file
// answers the rest. A newer file holding fewer than half of the first file's
// keys is ignored (logged).
class LanguageEngine
{
public:
    using Dictionary = std::map<std::string, std::string>;
    using LanguageList = std::vector<std::pair<std::string, std::string>>;  // (name, version)

    LanguageEngine() = delete;

    // Folder prefixes (ending with a separator), read by init().
    static void setApplicationFolder(const std::string& path);
    static void setUserFolder(const std::string& path);

    // Makes the named language current; unknown names are ignored.
    static void setLanguage(const std::string& name);
    static std::string currentLanguage();
    static LanguageList availableLanguages();
    // Text of a key in the current language, else in the default language, else the key.
    static std::string lookup(const std::string& key);

    // Scans both folders and loads the default dictionary; runs once on first use.
    static void init();

    // Language name and version from a file's two header lines; both empty when it is not one.
    static std::pair<std::string, std::string> readHeader(const std::string& path);
    static Dictionary loadDictionary(const std::string& path);
    // True when version b is strictly greater than version a (first four components).
    static bool isNewerVersion(const std::string& a, const std::string& b);

private:
    static void ensureInitialised();
    static void scanFolder(const std::string& folder);
};

// Display text of a key in the current language.
QString translate(const std::string& key);
