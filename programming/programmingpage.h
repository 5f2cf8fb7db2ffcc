#pragma once

#include <QByteArray>
#include <QWidget>

class QComboBox;

class ProgrammingPage : public QWidget
{
    Q_OBJECT
public:
    explicit ProgrammingPage(QWidget* parent = nullptr);

    // Offers the additional programming type "root" (at most once).
    void addRootProgType();
    QComboBox* typeCombo() const { return comboType; }

Q_SIGNALS:
    void sendCmd(int cmd, QByteArray data);

public Q_SLOTS:
    void handleRespond(int cmd, const quint8* data, int size);
    void handleError();

private:
    QComboBox* comboType;
};
