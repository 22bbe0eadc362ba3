#pragma once
// The dialog in which the user sets the program's own subnet and device ID on
// the bus and chooses the local UDP port.
#include <QDialog>

class QLineEdit;
class QRadioButton;
class QPushButton;

class TfrmSettings_Address : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmSettings_Address(QWidget* parent = nullptr);

    QLineEdit* editSubnetID;
    QLineEdit* editDeviceID;
    QRadioButton* rdobtnPortOfCuelark;
    QRadioButton* rdobtnPortOfTarnlink;
    QPushButton* bitbtnSave;
    QPushButton* bitbtnClose;

    void bitbtnSaveClick();

  private:
    // Writes [key] key=value to System.ini; says so and returns false when it cannot.
    bool WriteSetting(const QString& key, const QString& value);
};
