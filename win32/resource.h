// Resource names shared by the resource script and the window's code (plain preprocessor
// definitions: the resource compiler reads this file too).
#pragma once
#define IDD_MAIN 100
#define IDD_ABOUT 101
#define IDI_PROGRAM 102
