// The settings file: the window's position and every option of the options panel.
#include "MainWindow.h"

#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/IntegerText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

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

} // namespace

void TfrmKorvane::LoadSettings() {
    TMemIniFile ini(FPaths.SettingsFile);

    move(ini.ReadInteger("window", "left", 100), ini.ReadInteger("window", "top", 100));

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

    ini.WriteBool("security", "image", cbSecImage->isChecked());
    ini.WriteBool("security", "video", cbSecVideo->isChecked());
    ini.WriteBool("security", "script", cbSecScript->isChecked());
    ini.WriteBool("security", "java", cbSecJava->isChecked());
    ini.WriteBool("security", "activex", cbSecActiveX->isChecked());
    ini.WriteBool("security", "axdl", cbSecAXDL->isChecked());

    ini.UpdateFile();
}

} // namespace korvane
