#!/bin/sh
# Refreshes translations/zh.ts from the sources (new texts come in as
# unfinished entries to translate; texts no longer used are dropped).
set -e
cd "$(dirname "$0")/.."
lupdate -silent -no-obsolete -locations none \
    app mainwindow comm pages programming discovery common \
    -ts translations/zh.ts
grep -c 'type="unfinished"' translations/zh.ts || true
