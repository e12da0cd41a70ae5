#pragma once
// The program's icon, drawn from its SVG at the sizes desktops ask for (16 to 256 pixels).

#include <QIcon>

QIcon kestrelonIcon();
