#pragma once
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <vector>

namespace windowtest {

// A fresh HOME with its own settings, data, cache and configuration folders for
// one window test: the settings store, the log, the thumbnail cache and the
// user presets all land inside it. The previous environment comes back at the end.
class TemporaryEnvironment {
public:
    TemporaryEnvironment();
    ~TemporaryEnvironment();
    TemporaryEnvironment(const TemporaryEnvironment&) = delete;
    TemporaryEnvironment& operator=(const TemporaryEnvironment&) = delete;

    QString home() const { return root.path(); }
    // The per-user application data folder the window writes to.
    QString dataFolder() const;
    // A folder for the test's own files (media, exports).
    QString filesFolder() const { return root.path() + "/files"; }

private:
    struct Saved {
        QByteArray name;
        QByteArray value;
        bool wasSet;
    };

    void set(const char* name, const QString& value);

    QTemporaryDir root;
    std::vector<Saved> saved;
};

}  // namespace windowtest
