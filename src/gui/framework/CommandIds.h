#pragma once
// Command numbers. Menus, accelerators and handlers use these; the numbers are
// those of the original resources so that every command keeps its identity.

namespace cmd {

// Framework commands.
constexpr int FileNew = 57600;
constexpr int FileOpen = 57601;
constexpr int FileSave = 57603;
constexpr int FileSaveAs = 57604;
constexpr int FilePrintSetup = 57606;
constexpr int FilePrint = 57607;
constexpr int FilePrintPreview = 57609;
constexpr int FileMru1 = 57616;  // the recent files, FileMru1 + 0..3
constexpr int EditCopy = 57634;
constexpr int EditCut = 57635;
constexpr int EditPaste = 57637;
constexpr int EditUndo = 57643;
constexpr int WindowNew = 57648;
constexpr int WindowArrange = 57649;
constexpr int WindowCascade = 57650;
constexpr int WindowTile = 57651;
constexpr int WindowSplit = 57653;
constexpr int AppAbout = 57664;
constexpr int AppExit = 57665;
constexpr int HelpManual = 57670;
constexpr int NextPane = 57680;
constexpr int PrevPane = 57681;
constexpr int ViewStatusBar = 59393;

// This program's commands.
constexpr int Connect = 32773;
constexpr int ShowActive = 32774;
constexpr int ShowFailed = 32775;
constexpr int Disconnect = 32776;
constexpr int Option = 32779;
constexpr int CopyGraph = 32781;
constexpr int Export = 32790;
// View > Group By: Connection, User, Destination, Service, Client, in this order.
constexpr int GroupByConnection = 32791;
constexpr int GroupByUser = 32792;
constexpr int GroupByDestination = 32793;
constexpr int GroupByService = 32794;
constexpr int GroupByClient = 32795;
constexpr int ViewHistory = 32796;
constexpr int HelpIdentity = 32797;
// The fleet: View > Servers, View > All Servers, View > Alerts, and Group By > Server.
constexpr int ViewServers = 32798;
constexpr int ViewAllServers = 32799;
constexpr int ViewAlerts = 32800;
constexpr int GroupByServer = 32801;
// Acting on the chosen connections through the monitor, and its blocks.
constexpr int CloseConnections = 32802;
constexpr int BlockUser = 32803;
constexpr int BlockClient = 32804;
constexpr int BlockDestination = 32805;
constexpr int ViewBlocks = 32806;

}  // namespace cmd
