// Writes one quote as a FIX 4.4 MarketDataSnapshotFullRefresh with QuickFIX's
// own message classes, so BodyLength and CheckSum come from QuickFIX's writer.
// This header needs no QuickFIX header and compiles as C++14 and C++17.
#pragma once

#include <string>
#include <vector>

namespace feedsim {

struct Level {
    double price;
    double size;  // in units (2500000 for two and a half million)
};

struct Book {
    std::string symbol;
    int decimals = 5;           // decimal places written for every price
    std::vector<Level> bids;    // best first
    std::vector<Level> offers;  // best first
};

// The message text (SOH-delimited, no line end): header BeginString FIX.4.4,
// SenderCompID, TargetCompID, MsgSeqNum and SendingTime (UTC, milliseconds);
// body Symbol and one NoMDEntries entry per level, the bids first, each with
// MDEntryType, MDEntryPx, MDEntrySize and MDEntryPositionNo.
std::string BuildSnapshotMessage(const Book& book, const std::string& senderCompId,
                                 const std::string& targetCompId, int msgSeqNum);

}  // namespace feedsim
