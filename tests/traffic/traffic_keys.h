// The keys of the traffic sections as users find them in their files.
#pragma once

#include "base/key_list_check.h"

namespace busprobe::test {

// "CanDisplay", "Trigger", "Logging", "CanMessages" and "LogfilePlayer", in the order the main
// settings write them.
inline std::vector<Key> DisplayKeys() {
  return Keys({{"CanDisplay",
                "TimeStampDisplay TimeStampFormat TimeRelMax DisplayOptions HighLevelProtocol "
                "MaxWindowLines $FontName FontSize FontStyle RxBackgndColor TxBackgndColor CmdBackgndColor "
                "ShowBusNr ShowDLC MarkFDFrames ShowComments Mark29BitIDs CanIdDisplay ShowIDAsText0..3 "
                "RxListType TxListType RxTxCombined"}},
              3000);
}
inline std::vector<Key> TriggerKeys() {
  return Keys({{"Trigger",
                "EnableModule StartEvents StartActions StopEvents StopActions $SpecialMessage0..3 "
                "$MissingMessage"}},
              3100);
}
inline std::vector<Key> LoggingKeys() {
  return Keys({{"Logging", "LogRxMsgs LogTxMsgs LogOthers MarkRxTx $PlayedFile $RecordFile"}}, 3200);
}
inline std::vector<Key> CanMessageKeys() {
  return Keys({{"CanMessages", "$Name0..31 CanID0..31"}}, 3300);
}
inline std::vector<Key> PlayerKeys() {
  return Keys({{"LogfilePlayer", "MinTxDelay_ms ExcludeTxId0..7"}}, 3400);
}

inline std::vector<Key> SoundKeys() {
  return {{"SoundInterface", "AudioOutputDevice", "1"}};  // one of 0..2
}

}  // namespace busprobe::test
