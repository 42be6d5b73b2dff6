// The settings that govern how the quotes connection watches for a loss and
// heals it, read from the [DEFAULT] keys when a session starts.
#pragma once

namespace vantrel {

struct FeedSettings {
    // "QuotesKeepAliveSeconds": a path that has died without a word ends the
    // session within this many seconds of the last byte received (TCP
    // keep-alive, see platform::SetDeadPathBound); 0 leaves the socket at the
    // system's settings.
    int nKeepAliveSeconds = 30;
    // "QuotesSilenceSeconds": nothing at all received for this long ends the
    // session as lost; 0 (the default) never does, because a quiet market
    // can be silent for minutes.
    int nSilenceSeconds = 0;
    // "QuotesReconnect": a lost session connects again by itself instead of
    // ending.
    bool bReconnect = false;
    // "QuotesReconnectMaxSeconds": the longest wait between two attempts.
    int nReconnectMaxSeconds = 60;
};

// Reads the four settings with the optional readers. No settings file: every
// setting keeps its default. A value that is illegal for its key, or out of
// its range, keeps the default too and is reported as a warning
// "ReadFeedSettings(): " followed by the reader's text and the default used.
// Never throws.
FeedSettings ReadFeedSettings() noexcept;

}  // namespace vantrel
