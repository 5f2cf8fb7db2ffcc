#pragma once

#include <QWidget>

class DevSereachPage : public QWidget
{
    Q_OBJECT
public:
    explicit DevSereachPage(QWidget* parent = nullptr);
};
