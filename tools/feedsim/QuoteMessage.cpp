#include "feedsim/QuoteMessage.h"

#include <quickfix/fix44/MarketDataSnapshotFullRefresh.h>

namespace feedsim {
namespace {

void AddEntries(FIX44::MarketDataSnapshotFullRefresh& message, char type,
                const std::vector<Level>& levels, int decimals) {
    FIX44::MarketDataSnapshotFullRefresh::NoMDEntries entry;
    int position = 1;
    for (const Level& level : levels) {
        entry.set(FIX::MDEntryType(type));
        FIX::MDEntryPx price;
        price.setValue(level.price, decimals);  // at least `decimals` places
        entry.set(price);
        entry.set(FIX::MDEntrySize(level.size));
        entry.set(FIX::MDEntryPositionNo(position++));
        message.addGroup(entry);
    }
}

}  // namespace

std::string BuildSnapshotMessage(const Book& book, const std::string& senderCompId,
                                 const std::string& targetCompId, int msgSeqNum) {
    FIX44::MarketDataSnapshotFullRefresh message;
    FIX::Header& header = message.getHeader();
    header.setField(FIX::SenderCompID(senderCompId));
    header.setField(FIX::TargetCompID(targetCompId));
    header.setField(FIX::MsgSeqNum(msgSeqNum));
    header.setField(FIX::SendingTime(3));  // now, in milliseconds
    message.set(FIX::Symbol(book.symbol));
    AddEntries(message, FIX::MDEntryType_BID, book.bids, book.decimals);
    AddEntries(message, FIX::MDEntryType_OFFER, book.offers, book.decimals);
    return message.toString();
}

}  // namespace feedsim
