// Conformance check of fix/fix44_dictionary.xml against QuickFIX's own FIX 4.4
// message classes, run by CTest:
//   fix_dictionary_conformance_check fix/fix44_dictionary.xml
// Exit status 0 when every check passes, 1 otherwise (each failure is printed).
//
// What it checks:
//  - the XML loads with FIX::DataDictionary from a string stream, as the library
//    loads it, and the section counts it yields;
//  - for every repeating group of every FIX44 message class (and of the header),
//    the dictionary has a group with the same count field and delimiter, the same
//    members in the same order, and the same nested groups; and the dictionary
//    defines no group for these messages that the classes lack;
//  - the library's own definitions the classes cannot confirm: the NoMDEntries
//    member order of MarketDataSnapshotFullRefresh, messages U1 and U2, fields
//    7003 to 7007, OrdType Q, MDEntryType values 0 to C, the DATA fields;
//  - a MarketDataSnapshotFullRefresh written by the FIX44 classes parses back
//    with the dictionary to the same entries, nested groups included.
//
// QuickFIX's headers use dynamic exception specifications, so this file is C++14.

#include <quickfix/DataDictionary.h>
#include <quickfix/Message.h>
#include <quickfix/fix44/Advertisement.h>
#include <quickfix/fix44/AllocationInstruction.h>
#include <quickfix/fix44/AllocationInstructionAck.h>
#include <quickfix/fix44/AllocationReport.h>
#include <quickfix/fix44/AllocationReportAck.h>
#include <quickfix/fix44/AssignmentReport.h>
#include <quickfix/fix44/BidRequest.h>
#include <quickfix/fix44/BidResponse.h>
#include <quickfix/fix44/BusinessMessageReject.h>
#include <quickfix/fix44/CollateralAssignment.h>
#include <quickfix/fix44/CollateralInquiry.h>
#include <quickfix/fix44/CollateralInquiryAck.h>
#include <quickfix/fix44/CollateralReport.h>
#include <quickfix/fix44/CollateralRequest.h>
#include <quickfix/fix44/CollateralResponse.h>
#include <quickfix/fix44/Confirmation.h>
#include <quickfix/fix44/ConfirmationAck.h>
#include <quickfix/fix44/ConfirmationRequest.h>
#include <quickfix/fix44/CrossOrderCancelReplaceRequest.h>
#include <quickfix/fix44/CrossOrderCancelRequest.h>
#include <quickfix/fix44/DerivativeSecurityList.h>
#include <quickfix/fix44/DerivativeSecurityListRequest.h>
#include <quickfix/fix44/DontKnowTrade.h>
#include <quickfix/fix44/Email.h>
#include <quickfix/fix44/ExecutionReport.h>
#include <quickfix/fix44/Heartbeat.h>
#include <quickfix/fix44/IOI.h>
#include <quickfix/fix44/ListCancelRequest.h>
#include <quickfix/fix44/ListExecute.h>
#include <quickfix/fix44/ListStatus.h>
#include <quickfix/fix44/ListStatusRequest.h>
#include <quickfix/fix44/ListStrikePrice.h>
#include <quickfix/fix44/Logon.h>
#include <quickfix/fix44/Logout.h>
#include <quickfix/fix44/MarketDataIncrementalRefresh.h>
#include <quickfix/fix44/MarketDataRequest.h>
#include <quickfix/fix44/MarketDataRequestReject.h>
#include <quickfix/fix44/MarketDataSnapshotFullRefresh.h>
#include <quickfix/fix44/MassQuote.h>
#include <quickfix/fix44/MassQuoteAcknowledgement.h>
#include <quickfix/fix44/MultilegOrderCancelReplace.h>
#include <quickfix/fix44/NetworkCounterpartySystemStatusRequest.h>
#include <quickfix/fix44/NetworkCounterpartySystemStatusResponse.h>
#include <quickfix/fix44/NewOrderCross.h>
#include <quickfix/fix44/NewOrderList.h>
#include <quickfix/fix44/NewOrderMultileg.h>
#include <quickfix/fix44/NewOrderSingle.h>
#include <quickfix/fix44/News.h>
#include <quickfix/fix44/OrderCancelReject.h>
#include <quickfix/fix44/OrderCancelReplaceRequest.h>
#include <quickfix/fix44/OrderCancelRequest.h>
#include <quickfix/fix44/OrderMassCancelReport.h>
#include <quickfix/fix44/OrderMassCancelRequest.h>
#include <quickfix/fix44/OrderMassStatusRequest.h>
#include <quickfix/fix44/OrderStatusRequest.h>
#include <quickfix/fix44/PositionMaintenanceReport.h>
#include <quickfix/fix44/PositionMaintenanceRequest.h>
#include <quickfix/fix44/PositionReport.h>
#include <quickfix/fix44/Quote.h>
#include <quickfix/fix44/QuoteCancel.h>
#include <quickfix/fix44/QuoteRequest.h>
#include <quickfix/fix44/QuoteRequestReject.h>
#include <quickfix/fix44/QuoteResponse.h>
#include <quickfix/fix44/QuoteStatusReport.h>
#include <quickfix/fix44/QuoteStatusRequest.h>
#include <quickfix/fix44/RFQRequest.h>
#include <quickfix/fix44/RegistrationInstructions.h>
#include <quickfix/fix44/RegistrationInstructionsResponse.h>
#include <quickfix/fix44/Reject.h>
#include <quickfix/fix44/RequestForPositions.h>
#include <quickfix/fix44/RequestForPositionsAck.h>
#include <quickfix/fix44/ResendRequest.h>
#include <quickfix/fix44/SecurityDefinition.h>
#include <quickfix/fix44/SecurityDefinitionRequest.h>
#include <quickfix/fix44/SecurityList.h>
#include <quickfix/fix44/SecurityListRequest.h>
#include <quickfix/fix44/SecurityStatus.h>
#include <quickfix/fix44/SecurityStatusRequest.h>
#include <quickfix/fix44/SecurityTypeRequest.h>
#include <quickfix/fix44/SecurityTypes.h>
#include <quickfix/fix44/SequenceReset.h>
#include <quickfix/fix44/SettlementInstructionRequest.h>
#include <quickfix/fix44/SettlementInstructions.h>
#include <quickfix/fix44/TestRequest.h>
#include <quickfix/fix44/TradeCaptureReport.h>
#include <quickfix/fix44/TradeCaptureReportAck.h>
#include <quickfix/fix44/TradeCaptureReportRequest.h>
#include <quickfix/fix44/TradeCaptureReportRequestAck.h>
#include <quickfix/fix44/TradingSessionStatus.h>
#include <quickfix/fix44/TradingSessionStatusRequest.h>
#include <quickfix/fix44/UserRequest.h>
#include <quickfix/fix44/UserResponse.h>
#include <quickfix/fix44/XMLnonFIX.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

void fail(const std::string& what)
{
  ++g_failures;
  std::cout << "FAIL: " << what << "\n";
}

void expect(bool ok, const std::string& what)
{
  if (!ok) fail(what);
}

std::string join(const std::vector<int>& v)
{
  std::string s;
  for (int t : v) s += (s.empty() ? "" : ",") + std::to_string(t);
  return s;
}

// Tags the member orders are probed over: the whole FIX 4.4 tag range plus every
// tag the dictionary defines.
std::vector<int> g_universe;

// Member order of a group, as its message_order sorts fields. Ordered members
// sort before all other tags, and tag 0 sorts first among the others, so the
// ordered members are exactly the tags in front of 0. Ascending insertion keeps
// this cheap: unordered tags are appended at the end.
std::vector<int> probeOrder(const FIX::Group& prototype)
{
  FIX::Group g(prototype);
  g.setField(0, "x");
  for (int tag : g_universe) g.setField(tag, "x");
  std::vector<int> order;
  for (FIX::FieldMap::const_iterator i = g.begin(); i != g.end(); ++i) {
    if (i->getTag() == 0) break;
    order.push_back(i->getTag());
  }
  return order;
}

struct Checker {
  const FIX::DataDictionary& dd;
  // (msgtype, path of count tags) of every group the classes declare.
  std::set<std::pair<std::string, std::vector<int>>> seen;
  std::set<std::string> msgtypes;

  explicit Checker(const FIX::DataDictionary& d) : dd(d) {}

  // Checks the last group of a chain of nested group classes.
  void group(const std::string& msgtype, const std::string& name,
             const std::vector<std::shared_ptr<FIX::Group>>& chain)
  {
    const FIX::DataDictionary* level = &dd;
    std::vector<int> path;
    int delim = 0;
    const FIX::DataDictionary* groupDD = nullptr;
    for (const auto& g : chain) {
      path.push_back(g->field());
      if (!level->getGroup(msgtype, g->field(), delim, groupDD)) {
        fail(name + ": dictionary has no group " + join(path) + " for " + msgtype);
        return;
      }
      level = groupDD;
    }
    seen.insert(std::make_pair(msgtype, path));
    const FIX::Group& cls = *chain.back();
    const std::string where = name + " " + msgtype + " group " + join(path);
    expect(delim == cls.delim(), where + ": delimiter " + std::to_string(delim) +
           ", class " + std::to_string(cls.delim()));

    std::vector<int> classOrder = probeOrder(cls);
    std::vector<int> dictOrder =
        probeOrder(FIX::Group(cls.field(), delim, groupDD->getOrderedFields()));
    // The dictionary orders every member; some classes leave nested count
    // fields out of their order (QuickFIX then writes them after the others).
    std::vector<int> filtered;
    std::set<int> inClass(classOrder.begin(), classOrder.end());
    for (int tag : dictOrder) {
      if (inClass.count(tag)) filtered.push_back(tag);
      else if (!groupDD->isGroup(msgtype, tag))
        fail(where + ": member " + std::to_string(tag) + " not in the class");
    }
    expect(filtered == classOrder, where + ": order " + join(dictOrder) + ", class " +
           join(classOrder));
    if (!dictOrder.empty())
      expect(dictOrder.front() == delim, where + ": delimiter is not the first member");
    for (int tag : dictOrder)
      expect(groupDD->isField(tag), where + ": ordered tag " + std::to_string(tag) +
             " is not a member");
  }

  // Every group the dictionary defines under msgtype must be one the classes
  // declare.
  void noExtraGroups(const std::string& msgtype, const FIX::DataDictionary& level,
                     std::vector<int> path)
  {
    for (int tag : g_universe) {
      int delim = 0;
      const FIX::DataDictionary* sub = nullptr;
      if (!level.getGroup(msgtype, tag, delim, sub)) continue;
      path.push_back(tag);
      if (!seen.count(std::make_pair(msgtype, path)))
        fail(msgtype + ": dictionary group " + join(path) + " not declared by the class");
      noExtraGroups(msgtype, *sub, path);
      path.pop_back();
    }
  }
};

template <class G> std::shared_ptr<FIX::Group> mk() { return std::make_shared<G>(); }

// One M(...) per FIX44 message class of the installed QuickFIX (XMLnonFIX, which
// declares nothing, left out), with every group class it declares: Gn names a
// group nested n deep (a class without groups passes an empty list). The table
// was listed from the installed fix44 headers.
#define M(msg, ...)                                                   \
  {                                                                   \
    using Msg = FIX44::msg;                                           \
    const std::string mt = Msg::MsgType().getValue();                 \
    const char* name = #msg;                                          \
    c.msgtypes.insert(mt);                                            \
    expect(dd.isMsgType(mt), std::string(name) + ": no message " + mt); \
    __VA_ARGS__                                                       \
  }
#define G1(a) c.group(mt, name, {mk<Msg::a>()});
#define G2(a, b) c.group(mt, name, {mk<Msg::a>(), mk<Msg::a::b>()});
#define G3(a, b, d) c.group(mt, name, {mk<Msg::a>(), mk<Msg::a::b>(), mk<Msg::a::b::d>()});
#define G4(a, b, d, e)                                                               \
  c.group(mt, name, {mk<Msg::a>(), mk<Msg::a::b>(), mk<Msg::a::b::d>(),              \
                     mk<Msg::a::b::d::e>()});

void checkClasses(const FIX::DataDictionary& dd)
{
  Checker c(dd);
  {
    const std::string mt = "_header_";
    const char* name = "Header";
    c.group(mt, name, {mk<FIX44::Header::NoHops>()});
  }
  M(Advertisement, G1(NoSecurityAltID) G1(NoEvents) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID)
    G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips))
  M(AllocationInstruction, G1(NoOrders) G2(NoOrders,NoNested2PartyIDs)
    G3(NoOrders,NoNested2PartyIDs,NoNested2PartySubIDs) G1(NoExecs) G1(NoSecurityAltID) G1(NoEvents)
    G1(NoInstrAttrib) G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoPartyIDs)
    G2(NoPartyIDs,NoPartySubIDs) G1(NoStipulations) G1(NoAllocs) G2(NoAllocs,NoNestedPartyIDs)
    G3(NoAllocs,NoNestedPartyIDs,NoNestedPartySubIDs) G2(NoAllocs,NoMiscFees)
    G2(NoAllocs,NoClearingInstructions) G2(NoAllocs,NoDlvyInst)
    G3(NoAllocs,NoDlvyInst,NoSettlPartyIDs)
    G4(NoAllocs,NoDlvyInst,NoSettlPartyIDs,NoSettlPartySubIDs))
  M(AllocationInstructionAck, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoAllocs))
  M(AllocationReport, G1(NoOrders) G2(NoOrders,NoNested2PartyIDs)
    G3(NoOrders,NoNested2PartyIDs,NoNested2PartySubIDs) G1(NoExecs) G1(NoSecurityAltID) G1(NoEvents)
    G1(NoInstrAttrib) G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoPartyIDs)
    G2(NoPartyIDs,NoPartySubIDs) G1(NoStipulations) G1(NoAllocs) G2(NoAllocs,NoNestedPartyIDs)
    G3(NoAllocs,NoNestedPartyIDs,NoNestedPartySubIDs) G2(NoAllocs,NoMiscFees)
    G2(NoAllocs,NoClearingInstructions) G2(NoAllocs,NoDlvyInst)
    G3(NoAllocs,NoDlvyInst,NoSettlPartyIDs)
    G4(NoAllocs,NoDlvyInst,NoSettlPartyIDs,NoSettlPartySubIDs))
  M(AllocationReportAck, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoAllocs))
  M(AssignmentReport, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoSecurityAltID) G1(NoEvents)
    G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoPositions)
    G2(NoPositions,NoNestedPartyIDs) G3(NoPositions,NoNestedPartyIDs,NoNestedPartySubIDs)
    G1(NoPosAmt))
  M(BidRequest, G1(NoBidDescriptors) G1(NoBidComponents))
  M(BidResponse, G1(NoBidComponents))
  M(BusinessMessageReject, )
  M(CollateralAssignment, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoExecs) G1(NoTrades)
    G1(NoSecurityAltID) G1(NoEvents) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips)
    G1(NoTrdRegTimestamps) G1(NoMiscFees) G1(NoStipulations) G1(NoDlvyInst)
    G2(NoDlvyInst,NoSettlPartyIDs) G3(NoDlvyInst,NoSettlPartyIDs,NoSettlPartySubIDs))
  M(CollateralInquiry, G1(NoCollInquiryQualifier) G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs)
    G1(NoExecs) G1(NoTrades) G1(NoSecurityAltID) G1(NoEvents) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips) G1(NoTrdRegTimestamps) G1(NoStipulations) G1(NoDlvyInst)
    G2(NoDlvyInst,NoSettlPartyIDs) G3(NoDlvyInst,NoSettlPartyIDs,NoSettlPartySubIDs))
  M(CollateralInquiryAck, G1(NoCollInquiryQualifier) G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs)
    G1(NoExecs) G1(NoTrades) G1(NoSecurityAltID) G1(NoEvents) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips))
  M(CollateralReport, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoExecs) G1(NoTrades)
    G1(NoSecurityAltID) G1(NoEvents) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips)
    G1(NoTrdRegTimestamps) G1(NoMiscFees) G1(NoStipulations) G1(NoDlvyInst)
    G2(NoDlvyInst,NoSettlPartyIDs) G3(NoDlvyInst,NoSettlPartyIDs,NoSettlPartySubIDs))
  M(CollateralRequest, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoExecs) G1(NoTrades)
    G1(NoSecurityAltID) G1(NoEvents) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips)
    G1(NoTrdRegTimestamps) G1(NoMiscFees) G1(NoStipulations))
  M(CollateralResponse, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoExecs) G1(NoTrades)
    G1(NoSecurityAltID) G1(NoEvents) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips)
    G1(NoTrdRegTimestamps) G1(NoMiscFees) G1(NoStipulations))
  M(Confirmation, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoOrders)
    G2(NoOrders,NoNested2PartyIDs) G3(NoOrders,NoNested2PartyIDs,NoNested2PartySubIDs)
    G1(NoTrdRegTimestamps) G1(NoSecurityAltID) G1(NoEvents) G1(NoInstrAttrib) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID) G1(NoCapacities) G1(NoDlvyInst) G2(NoDlvyInst,NoSettlPartyIDs)
    G3(NoDlvyInst,NoSettlPartyIDs,NoSettlPartySubIDs) G1(NoStipulations) G1(NoMiscFees))
  M(ConfirmationAck, )
  M(ConfirmationRequest, G1(NoOrders) G2(NoOrders,NoNested2PartyIDs)
    G3(NoOrders,NoNested2PartyIDs,NoNested2PartySubIDs))
  M(CrossOrderCancelReplaceRequest, G1(NoSides) G2(NoSides,NoPartyIDs)
    G3(NoSides,NoPartyIDs,NoPartySubIDs) G2(NoSides,NoAllocs) G3(NoSides,NoAllocs,NoNestedPartyIDs)
    G4(NoSides,NoAllocs,NoNestedPartyIDs,NoNestedPartySubIDs) G1(NoSecurityAltID) G1(NoEvents)
    G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID)
    G1(NoTradingSessions) G1(NoStipulations))
  M(CrossOrderCancelRequest, G1(NoSides) G2(NoSides,NoPartyIDs) G3(NoSides,NoPartyIDs,NoPartySubIDs)
    G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID))
  M(DerivativeSecurityList, G1(NoUnderlyingSecurityAltID) G1(NoUnderlyingStips) G1(NoRelatedSym)
    G2(NoRelatedSym,NoSecurityAltID) G2(NoRelatedSym,NoEvents) G2(NoRelatedSym,NoInstrAttrib)
    G2(NoRelatedSym,NoLegs) G3(NoRelatedSym,NoLegs,NoLegSecurityAltID))
  M(DerivativeSecurityListRequest, G1(NoUnderlyingSecurityAltID) G1(NoUnderlyingStips))
  M(DontKnowTrade, G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID))
  M(Email, G1(NoRoutingIDs) G1(NoRelatedSym) G2(NoRelatedSym,NoSecurityAltID)
    G2(NoRelatedSym,NoEvents) G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoLinesOfText))
  M(ExecutionReport, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoContraBrokers)
    G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips) G1(NoStipulations) G1(NoContAmts) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID) G2(NoLegs,NoLegStipulations) G2(NoLegs,NoNestedPartyIDs)
    G3(NoLegs,NoNestedPartyIDs,NoNestedPartySubIDs) G1(NoMiscFees))
  M(Heartbeat, )
  M(IOI, G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips)
    G1(NoStipulations) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G2(NoLegs,NoLegStipulations)
    G1(NoIOIQualifiers) G1(NoRoutingIDs))
  M(ListCancelRequest, )
  M(ListExecute, )
  M(ListStatus, G1(NoOrders))
  M(ListStatusRequest, )
  M(ListStrikePrice, G1(NoStrikes) G2(NoStrikes,NoSecurityAltID) G2(NoStrikes,NoEvents)
    G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips))
  M(Logon, G1(NoMsgTypes))
  M(Logout, )
  M(MarketDataIncrementalRefresh, G1(NoMDEntries) G2(NoMDEntries,NoSecurityAltID)
    G2(NoMDEntries,NoEvents) G2(NoMDEntries,NoUnderlyings)
    G3(NoMDEntries,NoUnderlyings,NoUnderlyingSecurityAltID)
    G3(NoMDEntries,NoUnderlyings,NoUnderlyingStips) G2(NoMDEntries,NoLegs)
    G3(NoMDEntries,NoLegs,NoLegSecurityAltID))
  M(MarketDataRequest, G1(NoMDEntryTypes) G1(NoRelatedSym) G2(NoRelatedSym,NoSecurityAltID)
    G2(NoRelatedSym,NoEvents) G2(NoRelatedSym,NoUnderlyings)
    G3(NoRelatedSym,NoUnderlyings,NoUnderlyingSecurityAltID)
    G3(NoRelatedSym,NoUnderlyings,NoUnderlyingStips) G2(NoRelatedSym,NoLegs)
    G3(NoRelatedSym,NoLegs,NoLegSecurityAltID) G1(NoTradingSessions))
  M(MarketDataRequestReject, G1(NoAltMDSource))
  M(MarketDataSnapshotFullRefresh, G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID) G1(NoMDEntries))
  M(MassQuote, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoQuoteSets)
    G2(NoQuoteSets,NoUnderlyingSecurityAltID) G2(NoQuoteSets,NoUnderlyingStips)
    G2(NoQuoteSets,NoQuoteEntries) G3(NoQuoteSets,NoQuoteEntries,NoSecurityAltID)
    G3(NoQuoteSets,NoQuoteEntries,NoEvents) G3(NoQuoteSets,NoQuoteEntries,NoLegs)
    G4(NoQuoteSets,NoQuoteEntries,NoLegs,NoLegSecurityAltID))
  M(MassQuoteAcknowledgement, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoQuoteSets)
    G2(NoQuoteSets,NoUnderlyingSecurityAltID) G2(NoQuoteSets,NoUnderlyingStips)
    G2(NoQuoteSets,NoQuoteEntries) G3(NoQuoteSets,NoQuoteEntries,NoSecurityAltID)
    G3(NoQuoteSets,NoQuoteEntries,NoEvents) G3(NoQuoteSets,NoQuoteEntries,NoLegs)
    G4(NoQuoteSets,NoQuoteEntries,NoLegs,NoLegSecurityAltID))
  M(MultilegOrderCancelReplace, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoAllocs)
    G2(NoAllocs,NoNested3PartyIDs) G3(NoAllocs,NoNested3PartyIDs,NoNested3PartySubIDs)
    G1(NoTradingSessions) G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID) G2(NoLegs,NoLegStipulations) G2(NoLegs,NoLegAllocs)
    G3(NoLegs,NoLegAllocs,NoNested2PartyIDs)
    G4(NoLegs,NoLegAllocs,NoNested2PartyIDs,NoNested2PartySubIDs) G2(NoLegs,NoNestedPartyIDs)
    G3(NoLegs,NoNestedPartyIDs,NoNestedPartySubIDs))
  M(NetworkCounterpartySystemStatusRequest, G1(NoCompIDs))
  M(NetworkCounterpartySystemStatusResponse, G1(NoCompIDs))
  M(NewOrderCross, G1(NoSides) G2(NoSides,NoPartyIDs) G3(NoSides,NoPartyIDs,NoPartySubIDs)
    G2(NoSides,NoAllocs) G3(NoSides,NoAllocs,NoNestedPartyIDs)
    G4(NoSides,NoAllocs,NoNestedPartyIDs,NoNestedPartySubIDs) G1(NoSecurityAltID) G1(NoEvents)
    G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID)
    G1(NoTradingSessions) G1(NoStipulations))
  M(NewOrderList, G1(NoOrders) G2(NoOrders,NoPartyIDs) G3(NoOrders,NoPartyIDs,NoPartySubIDs)
    G2(NoOrders,NoAllocs) G3(NoOrders,NoAllocs,NoNestedPartyIDs)
    G4(NoOrders,NoAllocs,NoNestedPartyIDs,NoNestedPartySubIDs) G2(NoOrders,NoTradingSessions)
    G2(NoOrders,NoSecurityAltID) G2(NoOrders,NoEvents) G2(NoOrders,NoUnderlyings)
    G3(NoOrders,NoUnderlyings,NoUnderlyingSecurityAltID)
    G3(NoOrders,NoUnderlyings,NoUnderlyingStips) G2(NoOrders,NoStipulations))
  M(NewOrderMultileg, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoAllocs)
    G2(NoAllocs,NoNested3PartyIDs) G3(NoAllocs,NoNested3PartyIDs,NoNested3PartySubIDs)
    G1(NoTradingSessions) G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID) G2(NoLegs,NoLegStipulations) G2(NoLegs,NoLegAllocs)
    G3(NoLegs,NoLegAllocs,NoNested2PartyIDs)
    G4(NoLegs,NoLegAllocs,NoNested2PartyIDs,NoNested2PartySubIDs) G2(NoLegs,NoNestedPartyIDs)
    G3(NoLegs,NoNestedPartyIDs,NoNestedPartySubIDs))
  M(NewOrderSingle, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoAllocs)
    G2(NoAllocs,NoNestedPartyIDs) G3(NoAllocs,NoNestedPartyIDs,NoNestedPartySubIDs)
    G1(NoTradingSessions) G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips)
    G1(NoStipulations))
  M(News, G1(NoRoutingIDs) G1(NoRelatedSym) G2(NoRelatedSym,NoSecurityAltID)
    G2(NoRelatedSym,NoEvents) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips)
    G1(NoLinesOfText))
  M(OrderCancelReject, )
  M(OrderCancelReplaceRequest, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoAllocs)
    G2(NoAllocs,NoNestedPartyIDs) G3(NoAllocs,NoNestedPartyIDs,NoNestedPartySubIDs)
    G1(NoTradingSessions) G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips))
  M(OrderCancelRequest, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoSecurityAltID) G1(NoEvents)
    G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips))
  M(OrderMassCancelReport, G1(NoAffectedOrders) G1(NoSecurityAltID) G1(NoEvents)
    G1(NoUnderlyingSecurityAltID) G1(NoUnderlyingStips))
  M(OrderMassCancelRequest, G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyingSecurityAltID)
    G1(NoUnderlyingStips))
  M(OrderMassStatusRequest, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoSecurityAltID)
    G1(NoEvents) G1(NoUnderlyingSecurityAltID) G1(NoUnderlyingStips))
  M(OrderStatusRequest, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoSecurityAltID) G1(NoEvents)
    G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips))
  M(PositionMaintenanceReport, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoSecurityAltID)
    G1(NoEvents) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips)
    G1(NoTradingSessions) G1(NoPositions) G2(NoPositions,NoNestedPartyIDs)
    G3(NoPositions,NoNestedPartyIDs,NoNestedPartySubIDs) G1(NoPosAmt))
  M(PositionMaintenanceRequest, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoSecurityAltID)
    G1(NoEvents) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips)
    G1(NoTradingSessions) G1(NoPositions) G2(NoPositions,NoNestedPartyIDs)
    G3(NoPositions,NoNestedPartyIDs,NoNestedPartySubIDs))
  M(PositionReport, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoSecurityAltID) G1(NoEvents)
    G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoPositions)
    G2(NoPositions,NoNestedPartyIDs) G3(NoPositions,NoNestedPartyIDs,NoNestedPartySubIDs)
    G1(NoPosAmt))
  M(Quote, G1(NoQuoteQualifiers) G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoSecurityAltID)
    G1(NoEvents) G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips) G1(NoStipulations) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID)
    G2(NoLegs,NoLegStipulations) G2(NoLegs,NoNestedPartyIDs)
    G3(NoLegs,NoNestedPartyIDs,NoNestedPartySubIDs))
  M(QuoteCancel, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoQuoteEntries)
    G2(NoQuoteEntries,NoSecurityAltID) G2(NoQuoteEntries,NoEvents) G2(NoQuoteEntries,NoUnderlyings)
    G3(NoQuoteEntries,NoUnderlyings,NoUnderlyingSecurityAltID)
    G3(NoQuoteEntries,NoUnderlyings,NoUnderlyingStips) G2(NoQuoteEntries,NoLegs)
    G3(NoQuoteEntries,NoLegs,NoLegSecurityAltID))
  M(QuoteRequest, G1(NoRelatedSym) G2(NoRelatedSym,NoSecurityAltID) G2(NoRelatedSym,NoEvents)
    G2(NoRelatedSym,NoUnderlyings) G3(NoRelatedSym,NoUnderlyings,NoUnderlyingSecurityAltID)
    G3(NoRelatedSym,NoUnderlyings,NoUnderlyingStips) G2(NoRelatedSym,NoStipulations)
    G2(NoRelatedSym,NoLegs) G3(NoRelatedSym,NoLegs,NoLegSecurityAltID)
    G3(NoRelatedSym,NoLegs,NoLegStipulations) G3(NoRelatedSym,NoLegs,NoNestedPartyIDs)
    G4(NoRelatedSym,NoLegs,NoNestedPartyIDs,NoNestedPartySubIDs) G2(NoRelatedSym,NoQuoteQualifiers)
    G2(NoRelatedSym,NoPartyIDs) G3(NoRelatedSym,NoPartyIDs,NoPartySubIDs))
  M(QuoteRequestReject, G1(NoRelatedSym) G2(NoRelatedSym,NoSecurityAltID) G2(NoRelatedSym,NoEvents)
    G2(NoRelatedSym,NoUnderlyings) G3(NoRelatedSym,NoUnderlyings,NoUnderlyingSecurityAltID)
    G3(NoRelatedSym,NoUnderlyings,NoUnderlyingStips) G2(NoRelatedSym,NoStipulations)
    G2(NoRelatedSym,NoLegs) G3(NoRelatedSym,NoLegs,NoLegSecurityAltID)
    G3(NoRelatedSym,NoLegs,NoLegStipulations) G3(NoRelatedSym,NoLegs,NoNestedPartyIDs)
    G4(NoRelatedSym,NoLegs,NoNestedPartyIDs,NoNestedPartySubIDs) G2(NoRelatedSym,NoQuoteQualifiers)
    G2(NoRelatedSym,NoPartyIDs) G3(NoRelatedSym,NoPartyIDs,NoPartySubIDs))
  M(QuoteResponse, G1(NoQuoteQualifiers) G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs)
    G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips) G1(NoStipulations) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID)
    G2(NoLegs,NoLegStipulations) G2(NoLegs,NoNestedPartyIDs)
    G3(NoLegs,NoNestedPartyIDs,NoNestedPartySubIDs))
  M(QuoteStatusReport, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoSecurityAltID) G1(NoEvents)
    G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips) G1(NoStipulations) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID)
    G2(NoLegs,NoLegStipulations) G2(NoLegs,NoNestedPartyIDs)
    G3(NoLegs,NoNestedPartyIDs,NoNestedPartySubIDs) G1(NoQuoteQualifiers))
  M(QuoteStatusRequest, G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID) G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs))
  M(RFQRequest, G1(NoRelatedSym) G2(NoRelatedSym,NoSecurityAltID) G2(NoRelatedSym,NoEvents)
    G2(NoRelatedSym,NoUnderlyings) G3(NoRelatedSym,NoUnderlyings,NoUnderlyingSecurityAltID)
    G3(NoRelatedSym,NoUnderlyings,NoUnderlyingStips) G2(NoRelatedSym,NoLegs)
    G3(NoRelatedSym,NoLegs,NoLegSecurityAltID))
  M(RegistrationInstructions, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoRegistDtls)
    G2(NoRegistDtls,NoNestedPartyIDs) G3(NoRegistDtls,NoNestedPartyIDs,NoNestedPartySubIDs)
    G1(NoDistribInsts))
  M(RegistrationInstructionsResponse, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs))
  M(Reject, )
  M(RequestForPositions, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoSecurityAltID)
    G1(NoEvents) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips)
    G1(NoTradingSessions))
  M(RequestForPositionsAck, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoSecurityAltID)
    G1(NoEvents) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips))
  M(ResendRequest, )
  M(SecurityDefinition, G1(NoSecurityAltID) G1(NoEvents) G1(NoInstrAttrib) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID))
  M(SecurityDefinitionRequest, G1(NoSecurityAltID) G1(NoEvents) G1(NoInstrAttrib) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID))
  M(SecurityList, G1(NoRelatedSym) G2(NoRelatedSym,NoSecurityAltID) G2(NoRelatedSym,NoEvents)
    G2(NoRelatedSym,NoInstrAttrib) G2(NoRelatedSym,NoUnderlyings)
    G3(NoRelatedSym,NoUnderlyings,NoUnderlyingSecurityAltID)
    G3(NoRelatedSym,NoUnderlyings,NoUnderlyingStips) G2(NoRelatedSym,NoStipulations)
    G2(NoRelatedSym,NoLegs) G3(NoRelatedSym,NoLegs,NoLegSecurityAltID)
    G3(NoRelatedSym,NoLegs,NoLegStipulations))
  M(SecurityListRequest, G1(NoSecurityAltID) G1(NoEvents) G1(NoInstrAttrib) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID))
  M(SecurityStatus, G1(NoSecurityAltID) G1(NoEvents) G1(NoInstrAttrib) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID))
  M(SecurityStatusRequest, G1(NoSecurityAltID) G1(NoEvents) G1(NoInstrAttrib) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID))
  M(SecurityTypeRequest, )
  M(SecurityTypes, G1(NoSecurityTypes))
  M(SequenceReset, )
  M(SettlementInstructionRequest, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs))
  M(SettlementInstructions, G1(NoSettlInst) G2(NoSettlInst,NoPartyIDs)
    G3(NoSettlInst,NoPartyIDs,NoPartySubIDs) G2(NoSettlInst,NoDlvyInst)
    G3(NoSettlInst,NoDlvyInst,NoSettlPartyIDs)
    G4(NoSettlInst,NoDlvyInst,NoSettlPartyIDs,NoSettlPartySubIDs))
  M(TestRequest, )
  M(TradeCaptureReport, G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoPosAmt)
    G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G2(NoLegs,NoLegStipulations)
    G2(NoLegs,NoNestedPartyIDs) G3(NoLegs,NoNestedPartyIDs,NoNestedPartySubIDs)
    G1(NoTrdRegTimestamps) G1(NoSides) G2(NoSides,NoPartyIDs) G3(NoSides,NoPartyIDs,NoPartySubIDs)
    G2(NoSides,NoClearingInstructions) G2(NoSides,NoContAmts) G2(NoSides,NoStipulations)
    G2(NoSides,NoMiscFees) G2(NoSides,NoAllocs) G3(NoSides,NoAllocs,NoNested2PartyIDs)
    G4(NoSides,NoAllocs,NoNested2PartyIDs,NoNested2PartySubIDs))
  M(TradeCaptureReportAck, G1(NoSecurityAltID) G1(NoEvents) G1(NoTrdRegTimestamps) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID) G2(NoLegs,NoLegStipulations) G2(NoLegs,NoNestedPartyIDs)
    G3(NoLegs,NoNestedPartyIDs,NoNestedPartySubIDs) G1(NoAllocs) G2(NoAllocs,NoNested2PartyIDs)
    G3(NoAllocs,NoNested2PartyIDs,NoNested2PartySubIDs))
  M(TradeCaptureReportRequest, G1(NoPartyIDs) G2(NoPartyIDs,NoPartySubIDs) G1(NoSecurityAltID)
    G1(NoEvents) G1(NoInstrAttrib) G1(NoUnderlyings) G2(NoUnderlyings,NoUnderlyingSecurityAltID)
    G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs) G2(NoLegs,NoLegSecurityAltID) G1(NoDates))
  M(TradeCaptureReportRequestAck, G1(NoSecurityAltID) G1(NoEvents) G1(NoUnderlyings)
    G2(NoUnderlyings,NoUnderlyingSecurityAltID) G2(NoUnderlyings,NoUnderlyingStips) G1(NoLegs)
    G2(NoLegs,NoLegSecurityAltID))
  M(TradingSessionStatus, )
  M(TradingSessionStatusRequest, )
  M(UserRequest, )
  M(UserResponse, )
  // XMLnonFIX (n) declares no fields; the dictionary leaves it out.
  expect(!dd.isMsgType("n") && dd.isFieldValue(FIX::FIELD::MsgType, "n"),
         "n: no message definition, MsgType value kept");
  for (const std::string& mt : c.msgtypes) c.noExtraGroups(mt, dd, {});
  std::cout << "classes: " << c.msgtypes.size() << " message classes, " << c.seen.size()
            << " groups compared\n";
}

#undef M
#undef G1
#undef G2
#undef G3
#undef G4

// Counts what the loaded dictionary holds. Components have no existence of
// their own after loading (they are expanded into the messages), so they are
// counted in the text.
void printCounts(const FIX::DataDictionary& dd, const std::string& xml)
{
  int fields = 0, header = 0, trailer = 0;
  for (int tag = 1; tag < 10000; ++tag) {
    if (dd.isField(tag)) ++fields;
    if (dd.isHeaderField(tag)) ++header;
    if (dd.isTrailerField(tag)) ++trailer;
  }
  const std::string chars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  int messages = 0, msgTypeValues = 0;
  std::vector<std::string> candidates;
  for (char a : chars) {
    candidates.push_back(std::string(1, a));
    for (char b : chars) candidates.push_back(std::string(1, a) + b);
  }
  for (const std::string& mt : candidates) {
    if (dd.isMsgType(mt)) ++messages;
    if (dd.isFieldValue(FIX::FIELD::MsgType, mt)) ++msgTypeValues;
  }
  int components = 0;
  std::string::size_type begin = xml.find("<components>");
  std::string::size_type end = xml.find("</components>");
  // Definitions only, not the self-closing references inside them.
  for (std::string::size_type p = xml.find("<component name=", begin);
       begin != std::string::npos && p < end; p = xml.find("<component name=", p + 1)) {
    std::string::size_type close = xml.find('>', p);
    if (close != std::string::npos && xml[close - 1] != '/') ++components;
  }
  std::cout << "header " << header << ", trailer " << trailer << ", messages " << messages
            << ", components " << components << ", fields " << fields
            << " (MsgType values " << msgTypeValues << ")\n";
  expect(header == 27, "header count");
  expect(trailer == 3, "trailer count");
  expect(messages == 94, "message count");
  expect(components == 24, "component count");
  expect(msgTypeValues == 95, "MsgType value count");
}

// Vantrel's own definitions that the FIX44 classes cannot confirm.
void checkAdditions(const FIX::DataDictionary& dd)
{
  expect(dd.isMsgType("U1") && dd.isMsgType("U2"), "messages U1 and U2");
  const int u1[] = {7003, 58};
  const int u2[] = {7004, 15, 7005, 7006, 7007};
  for (int tag : u1)
    expect(dd.isMsgField("U1", tag) && dd.isRequiredField("U1", tag),
           "U1 required field " + std::to_string(tag));
  for (int tag : u2)
    expect(dd.isMsgField("U2", tag) && dd.isRequiredField("U2", tag),
           "U2 required field " + std::to_string(tag));
  FIX::TYPE::Type type = FIX::TYPE::Unknown;
  expect(dd.getFieldType(7003, type) && type == FIX::TYPE::Int, "7003 INT");
  expect(dd.getFieldType(7004, type) && type == FIX::TYPE::String, "7004 STRING");
  for (int tag = 7005; tag <= 7007; ++tag)
    expect(dd.getFieldType(tag, type) && type == FIX::TYPE::Float,
           std::to_string(tag) + " FLOAT");
  std::string name;
  expect(dd.getValueName(40, "Q", name) && name == "QUOTE_VELMO", "OrdType Q QUOTE_VELMO");
  expect(dd.isFieldValue(269, "C") && !dd.isFieldValue(269, "D"), "MDEntryType 0..C");
  expect(dd.isRequiredField("W", 268), "W: NoMDEntries required");
  // The entry layout the quote reader relies on, whatever the FIX44 class says.
  const std::vector<int> mdEntry = {269, 270, 15, 271, 272, 273, 274, 275, 336, 625, 276,
                                    277, 282, 283, 284, 286, 59, 432, 126, 110, 18, 287,
                                    37, 299, 288, 289, 346, 290, 546, 811, 58, 354, 355};
  int delim = 0;
  const FIX::DataDictionary* entryDD = nullptr;
  if (dd.getGroup("W", 268, delim, entryDD)) {
    expect(delim == 269, "W: NoMDEntries delimiter 269");
    expect(probeOrder(FIX::Group(268, delim, entryDD->getOrderedFields())) == mdEntry,
           "W: NoMDEntries member order");
  } else {
    fail("W: no NoMDEntries group");
  }
  expect(dd.isDataField(89) && dd.isDataField(355), "DATA fields");
}

using W = FIX44::MarketDataSnapshotFullRefresh;

double num(const FIX::FieldMap& map, int tag)
{
  return FIX::DoubleConvertor::convert(map.getField(tag));
}

W::NoMDEntries entry(char type, double px, double size)
{
  W::NoMDEntries e;
  e.set(FIX::MDEntryType(type));
  e.set(FIX::MDEntryPx(px));
  e.set(FIX::MDEntrySize(size));
  return e;
}

std::string writeW(bool withUnderlying)
{
  W w;
  w.getHeader().set(FIX::SenderCompID("FEED"));
  w.getHeader().set(FIX::TargetCompID("CLIENT"));
  w.getHeader().set(FIX::MsgSeqNum(7));
  w.getHeader().set(FIX::SendingTime(FIX::UtcTimeStamp(1, 2, 3, 2024, 1, 5)));
  w.set(FIX::MDReqID("R1"));
  w.set(FIX::Symbol("EUR/USD"));
  if (withUnderlying) {
    W::NoUnderlyings u;
    u.set(FIX::UnderlyingSymbol("EUR"));
    W::NoUnderlyings::NoUnderlyingSecurityAltID alt;
    alt.set(FIX::UnderlyingSecurityAltID("A1"));
    alt.set(FIX::UnderlyingSecurityAltIDSource("8"));
    u.addGroup(alt);
    W::NoUnderlyings::NoUnderlyingStips stip;
    stip.set(FIX::UnderlyingStipType("ABS"));
    stip.set(FIX::UnderlyingStipValue("1"));
    u.addGroup(stip);
    u.set(FIX::UnderlyingCurrency("EUR"));
    w.addGroup(u);
  }
  w.addGroup(entry('0', 1.2345, 1000000));
  w.addGroup(entry('1', 1.2347, 500000));
  return w.toString();
}

void checkRoundTrip(const FIX::DataDictionary& dd)
{
  const std::string text = writeW(false);
  FIX::Message parsed(text, dd, true);
  expect(parsed.getField(268) == "2", "W: NoMDEntries 2");
  W::NoMDEntries e;
  parsed.getGroup(1, e);
  expect(e.getField(269) == "0" && num(e, 270) == 1.2345 && num(e, 271) == 1000000,
         "W: entry 1 bid 1.2345 x 1000000");
  parsed.getGroup(2, e);
  expect(e.getField(269) == "1" && num(e, 270) == 1.2347 && num(e, 271) == 500000,
         "W: entry 2 offer 1.2347 x 500000");
  bool thrown = false;
  try { parsed.getGroup(3, e); } catch (const FIX::FieldNotFound&) { thrown = true; }
  expect(thrown, "W: entry 3 absent");
  // Same member order as the class: writing the parsed message gives the text back.
  expect(parsed.toString() == text, "W: parsed message writes back to the same text");

  // Nested groups inside NoUnderlyings, which the class writes with the nested
  // count fields after the plain members of the entry.
  const std::string nested = writeW(true);
  FIX::Message n(nested, dd, true);
  W::NoUnderlyings u;
  n.getGroup(1, u);
  W::NoUnderlyings::NoUnderlyingSecurityAltID alt;
  W::NoUnderlyings::NoUnderlyingStips stip;
  u.getGroup(1, alt);
  u.getGroup(1, stip);
  expect(u.getField(311) == "EUR" && u.getField(318) == "EUR", "W: underlying fields");
  expect(alt.getField(458) == "A1" && alt.getField(459) == "8", "W: underlying alt id");
  expect(stip.getField(888) == "ABS" && stip.getField(889) == "1", "W: underlying stip");
  expect(n.getField(55) == "EUR/USD" && n.getField(268) == "2", "W: body after underlyings");
  n.getGroup(2, e);
  expect(e.getField(269) == "1" && num(e, 270) == 1.2347, "W: entry 2 after underlyings");
}

} // namespace

int main(int argc, char** argv)
{
  const char* path = argc > 1 ? argv[1] : "fix/fix44_dictionary.xml";
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::cout << "cannot open " << path << "\n";
    return 2;
  }
  std::ostringstream content;
  content << file.rdbuf();
  const std::string xml = content.str();
  try {
    std::istringstream stream(xml);
    FIX::DataDictionary dd(stream);
    for (int tag = 1; tag <= 1000; ++tag) g_universe.push_back(tag);
    for (int tag = 1001; tag < 10000; ++tag)
      if (dd.isField(tag)) g_universe.push_back(tag);
    printCounts(dd, xml);
    checkAdditions(dd);
    checkClasses(dd);
    checkRoundTrip(dd);
  } catch (const std::exception& e) {
    fail(std::string("exception: ") + e.what());
  }
  std::cout << (g_failures ? "FAILED: " + std::to_string(g_failures) + " check(s)\n"
                           : std::string("all checks passed\n"));
  return g_failures ? 1 : 0;
}
