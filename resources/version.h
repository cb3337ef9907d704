// Version of the suite's files, shared by every resource script.
#pragma once
#define LK_VERSION_BIN 5, 1, 0, 0
#define LK_VERSION_TEXT "5.1.0.0"
