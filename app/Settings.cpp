// The settings file: the window's position and every option of the options panel.
#include "MainWindow.h"

#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/IntegerText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>

#include <algorithm>

namespace korvane {

namespace {

// A stored list index selects its item only when it is below the item count, taken as unsigned.
void SelectStoredIndex(QComboBox* list, std::int32_t stored) {
    if (static_cast<std::uint32_t>(stored) < static_cast<std::uint32_t>(list->count()))
        list->setCurrentIndex(stored);
}

QString Decimal(std::int32_t value) {
    return QString::number(value);
}

std::int32_t IntegerOf(const QLineEdit* edit, std::int32_t def) {
    return StrToIntDef(edit->text().toStdString(), def);
}

// Where a window of `size` saved at `saved` goes: there when its title bar would be on a screen of today,
// enough of it to be taken with the mouse; else at the same place on the primary screen as on a first start
// (a monitor that is gone, a file from another desk).
QPoint OnAScreen(QPoint saved, QSize size) {
    const QRect bar(saved, QSize(size.width(), 30));
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect seen = screen->availableGeometry().intersected(bar);
        if (seen.width() >= 60 && seen.height() >= 20) return saved;
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return saved;
    const QRect area = primary->availableGeometry();
    return {area.left() + std::clamp(100, 0, std::max(0, area.width() - size.width())),
            area.top() + std::clamp(100, 0, std::max(0, area.height() - size.height()))};
}

} // namespace

void TfrmKorvane::LoadSettings() {
    TMemIniFile ini(FPaths.SettingsFile);

    move(OnAScreen(QPoint(ini.ReadInteger("window", "left", 100), ini.ReadInteger("window", "top", 100)),
                   size()));

    SelectStoredIndex(cbCapWidth, ini.ReadInteger("option", "capturewith", 4));
    SelectStoredIndex(cbCapHeight, ini.ReadInteger("option", "captureheight", 0));
    EditAnyWidth->setText(Decimal(ini.ReadInteger("option", "capanywidth", 2000)));
    EditAnyHeight->setText(Decimal(ini.ReadInteger("option", "capanyheight", 2000)));
    cbCapWidthChange();
    cbCapHeightChange();
    cbAndView->setChecked(ini.ReadBool("option", "capandview", true));
    cbHideScrollBar->setChecked(ini.ReadBool("option", "hidescrollbar", false));
    cbSaveFormat->setCurrentIndex(0);
    SelectStoredIndex(cbSaveFormat, ini.ReadInteger("option", "saveformat", 0));
    EditDelay->setText(Decimal(ini.ReadInteger("option", "delay", 1)));
    EditOutput->setText(QString::fromStdString(ini.ReadString("option", "outputpath", FPaths.ProgramFolder)));
    if (!DirectoryExists(EditOutput->text().toStdString())) EditOutput->setText(ProgramFolder());
    FPageTime = ini.ReadInteger("option", "timeout", 60);
    if (FPageTime < 1) FPageTime = 60;

    cbSecImage->setChecked(ini.ReadBool("security", "image", true));
    cbSecVideo->setChecked(ini.ReadBool("security", "video", true));
    cbSecScript->setChecked(ini.ReadBool("security", "script", true));
    cbSecJava->setChecked(ini.ReadBool("security", "java", true));
    cbSecActiveX->setChecked(ini.ReadBool("security", "activex", true));
    cbSecAXDL->setChecked(ini.ReadBool("security", "axdl", false));
}

void TfrmKorvane::SaveSettings() {
    TMemIniFile ini(FPaths.SettingsFile);

    ini.WriteInteger("window", "left", x());
    ini.WriteInteger("window", "top", y());

    ini.WriteInteger("option", "capturewith", cbCapWidth->currentIndex());
    ini.WriteInteger("option", "captureheight", cbCapHeight->currentIndex());
    ini.WriteInteger("option", "capanywidth", IntegerOf(EditAnyWidth, 2000));
    ini.WriteInteger("option", "capanyheight", IntegerOf(EditAnyHeight, 2000));
    ini.WriteBool("option", "capandview", cbAndView->isChecked());
    ini.WriteBool("option", "hidescrollbar", cbHideScrollBar->isChecked());
    ini.WriteInteger("option", "saveformat", cbSaveFormat->currentIndex());
    ini.WriteInteger("option", "delay", IntegerOf(EditDelay, 1));
    ini.WriteString("option", "outputpath", EditOutput->text().toStdString());
    ini.WriteInteger("option", "timeout", FPageTime);

    ini.WriteBool("security", "image", cbSecImage->isChecked());
    ini.WriteBool("security", "video", cbSecVideo->isChecked());
    ini.WriteBool("security", "script", cbSecScript->isChecked());
    ini.WriteBool("security", "java", cbSecJava->isChecked());
    ini.WriteBool("security", "activex", cbSecActiveX->isChecked());
    ini.WriteBool("security", "axdl", cbSecAXDL->isChecked());

    ini.UpdateFile();
}

} // namespace korvane
