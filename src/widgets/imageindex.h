// The numbers of the shared pictures, for code that chooses a picture without painting one.
#pragma once

// Indexes other windows use by number.
namespace corvane::img {
inline constexpr int AdapterActive = 0;   // active, with a connection name
inline constexpr int AdapterInactive = 1; // not active, with a connection name
inline constexpr int AdapterUnnamed = 2;  // active, no connection name
inline constexpr int Group = 3;           // DHCP, WINS, DNS branches
inline constexpr int Detail = 4;
inline constexpr int Refresh = 5;
inline constexpr int SaveReport = 6;
inline constexpr int Options = 7;
inline constexpr int Help = 8;
inline constexpr int About = 9;
inline constexpr int AddRoute = 10;
inline constexpr int AddFromList = 11;
inline constexpr int ModifyRoute = 12;
inline constexpr int DeleteRoute = 13;
inline constexpr int DeleteList = 14;
inline constexpr int BestRoute = 15;
inline constexpr int LeaseObtained = 16;
inline constexpr int LeaseExpires = 17;
inline constexpr int Gateway = 18;
inline constexpr int EnableIF = 19;
inline constexpr int DisableIF = 20;
inline constexpr int IfStats = 21;
inline constexpr int IpStats = 22;
inline constexpr int Tray = 23;
inline constexpr int Expand = 24;
inline constexpr int Collapse = 25;
inline constexpr int Copy = 26;
inline constexpr int Show = 27;
inline constexpr int Renew = 28;
inline constexpr int AdapterUnnamedInactive = 29;
inline constexpr int Exit = 30;
inline constexpr int UnTray = 31;
inline constexpr int SelectAll = 32;
inline constexpr int Filter = 33;
inline constexpr int IpAddresses = 34;
inline constexpr int Host = 35;
inline constexpr int DeleteIP = 36;
inline constexpr int AddIP = 37;
inline constexpr int Mask = 38;
inline constexpr int Index = 39;
inline constexpr int Media = 40;
inline constexpr int Apipa = 41;
inline constexpr int Mac = 42;
inline constexpr int ConnectionName = 43;
inline constexpr int count = 44;
} // namespace corvane::img
