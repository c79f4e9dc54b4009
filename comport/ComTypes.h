#pragma once

// Enumerations and sets of the serial port component. Each enumeration is one byte, numbered from
// 0 in declaration order; a set holds member n in bit n.

#include "framework/SetOf.h"

#include <cstdint>

namespace comport {

enum TBaudRate : std::uint8_t {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};

enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };

enum TComEvent : std::uint8_t {
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD,
    evRx80Full
};
using TComEvents = fw::SetOf<TComEvent, std::uint16_t>;

enum TComError : std::uint8_t {
    ceFrame,
    ceRxParity,
    ceOverrun,
    ceBreak,
    ceIO,
    ceMode,
    ceRxOver,
    ceTxFull
};
using TComErrors = fw::SetOf<TComError, std::uint8_t>;

enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };

enum TStoredProp : std::uint8_t {
    spBasic,
    spFlowControl,
    spBuffer,
    spTimeouts,
    spParity,
    spOthers
};
using TStoredProps = fw::SetOf<TStoredProp, std::uint8_t>;

// Modem input lines that are on.
enum TLineSignal : std::uint8_t { lsCTS, lsDSR, lsRing, lsRLSD };
using TLineSignals = fw::SetOf<TLineSignal, std::uint8_t>;

enum TRequestKind : std::uint8_t { rkWrite, rkRead };

enum TLinkNotice : std::uint8_t {
    lnConnection,
    lnCTS,
    lnDSR,
    lnRLSD,
    lnRing,
    lnReceiving,
    lnSending,
    lnTxEmpty,
    lnRxFlag
};

// Error kinds; error number n has the kind at ordinal n - 1.
enum TComExceptions : std::uint8_t {
    CE_OpenFailed,
    CE_WriteFailed,
    CE_ReadFailed,
    CE_InvalidAsync,
    CE_PurgeFailed,
    CE_AsyncCheck,
    CE_SetStateFailed,
    CE_TimeoutsFailed,
    CE_SetupComFailed,
    CE_ClearComFailed,
    CE_ModemStatFailed,
    CE_EscapeComFailed,
    CE_TransmitFailed,
    CE_ConnChangeProp,
    CE_EnumPortsFailed,
    CE_StoreFailed,
    CE_LoadFailed,
    CE_RegFailed,
    CE_LedStateFailed,
    CE_ThreadCreated,
    CE_WaitFailed,
    CE_HasLink,
    CE_RegError,
    CEPortNotOpen
};

inline constexpr TComEvents allComEvents = TComEvents::fromBits(0x03FF);

} // namespace comport
