#include "discovery/devsereachpage.h"

DevSereachPage::DevSereachPage(QWidget* parent) : QWidget(parent) {}
