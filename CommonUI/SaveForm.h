#pragma once
#include <QDialog>
#include <QStringList>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class SaveFormDialog;
}

// Modal choice of the file type and bit depth of an exported image. The caller
// fills it, runs it and reads the two combo boxes afterwards.
class SaveForm : public QDialog {
    Q_OBJECT

public:
    using DepthRow = std::array<int, 3>;  // depths in bits, -1 for none

    // With showExtension false only the depth row is shown (the type is fixed).
    SaveForm(QWidget* parent, bool showExtension);
    ~SaveForm() override;

    // One type per name; depthTable holds count rows. The depth box follows the selected type.
    void fillOutputExtensions(const std::string* names, const char* const* extensions, const int (*depthTable)[3],
                              int count, int selectedIndex);
    // Offers the given depths, selecting selectedDepth when it is among them.
    void fillOutputDepths(const int* depths, int count, int selectedDepth);

    // The chosen type's index (-1 when none) and extension, and the chosen depth's text.
    int selectedType() const;
    QString selectedExtension() const;
    QString selectedDepth() const;

private slots:
    void updateOutputDepthComboBox();

private:
    std::unique_ptr<Ui::SaveFormDialog> form;
    QStringList extensionList;
    std::vector<DepthRow> depthRows;
};
