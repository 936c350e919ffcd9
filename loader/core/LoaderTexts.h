// The texts that the loader window and its sequencer show.
#pragma once

namespace loader {

namespace texts {
constexpr const char* kCaption = "Haldrin  Ver. 1.03";
constexpr const char* kProgramName = "Haldrin";
constexpr const char* kNotSelected = "Not Selected";
constexpr const char* kUnknown = "Unknown";
constexpr const char* kZeroErrors = "  0";
constexpr const char* kZeroTime = "00 : 00";
constexpr const char* kZeroRate = "0,000 CPS";
constexpr const char* kNotConnected = "Not Connected ....... ";
constexpr const char* kReady = "Ready to download.....";
constexpr const char* kErase = "Erase Sector ";
constexpr const char* kBlank = "Blank Check ";
constexpr const char* kSendData = "Send Data...... ";
constexpr const char* kFinished = "  ";
constexpr const char* kEnvironmentProblem =
    "There is some problem in your environment!!\r\nCheck your the other application please.";
constexpr const char* kFileMismatch = "The file does not match with this scope\r\nPlease Check your file!!";
constexpr const char* kServiceProblem = "There is Some problem!!\r\nPlease call to our service team";
constexpr const char* kQuitQuestion = "Are you sure you want to quit?";
constexpr const char* kFileTooLong =
    "This file is too large for the scope's image buffer.\r\n"
    "A firmware file must be shorter than 8,386,560 bytes (4095 blocks of 2048 bytes).";
// Preceded by the file's path.
constexpr const char* kFileNotRegular =
    "\r\nis not a regular file, so it cannot be a firmware image.\r\nThe image loaded before is kept.";
constexpr const char* kFileUnreadable =
    "This file could not be read completely.\r\nThe image loaded before is kept.";
constexpr const char* kAboutText = "Autmotive Scope\r\nHaldrin Version 1.03";
constexpr const char* kAboutEntry = "Haldrin 정보(&A)...";
constexpr const char* kFinishText = "Firmware update has been done.\r\nPlease, press the power button\r\n"
                                    "on your Automotive Scope.\r\n\r\nIf you want to continue,\r\n"
                                    "press \"Continue\" button now!!";
constexpr const char* kFileDialogTitle = "Select Bin File";
} // namespace texts

} // namespace loader
