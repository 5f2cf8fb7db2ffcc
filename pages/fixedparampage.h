#pragma once

#include <QByteArray>
#include <QWidget>

class FixedParamPage : public QWidget
{
    Q_OBJECT
public:
    explicit FixedParamPage(QWidget* parent = nullptr);

Q_SIGNALS:
    void sendCmd(int cmd, QByteArray data);

public Q_SLOTS:
    void handleRespond(int cmd, const quint8* data, int size);
};
