// Resource numbers of qvarchiwizator.exe, shared by its .rc and the window's
// code (LoadIconW with MAKEINTRESOURCEW(IDI_QVARCHIWIZATOR)).
#pragma once

// The lowest number: Explorer and the taskbar show the first icon group.
#define IDI_QVARCHIWIZATOR 1
