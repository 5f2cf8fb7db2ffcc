#pragma once

#include <QByteArray>
#include <QWidget>

class SPTestPage : public QWidget
{
    Q_OBJECT
public:
    explicit SPTestPage(QWidget* parent = nullptr);

Q_SIGNALS:
    void sendCmd(int cmd, QByteArray data);

public Q_SLOTS:
    void handleRespond(int cmd, const quint8* data, int size);
};
