#pragma once
#include <string>
#include <vector>

// A file written beside its target under a hidden name (".name.part-<process>-<id>.ext")
// and renamed over the target once complete, so a target is only ever replaced by a
// whole file. Every write is checked: a short write (full disk, size limit) or a
// failing close leaves the target as it was and the part file removed. A target that
// is a symbolic link stays one: the file it points to is the one replaced.
class PartFile {
public:
    explicit PartFile(const std::string& target);
    // Removes the part file unless it was committed.
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    const std::string& path() const { return path_; }
    // Creates the part file holding exactly these bytes; false with the reason logged.
    bool write(const std::vector<unsigned char>& bytes);
    // Renames the part file over the target, which keeps its permission bits and,
    // where the process may set it, its owner; false with the reason logged.
    bool commit();

    // Removes from the folder the part files, and what the metadata tool left of
    // them, of writers that no longer run (killed during a write).
    static void removeStale(const std::string& folder);

private:
    void keepPermissionsOfTarget();

    const std::string target_;
    const std::string path_;
    bool created_ = false;
};
