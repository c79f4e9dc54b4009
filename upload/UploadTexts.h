#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace upload {

// What the PC sends to switch the Monitor into firmware-receive mode (no terminator).
inline constexpr std::string_view programmingModeCommand = "(%P31)";

// The Monitor's replies: '[', a capital letter, ']'.
inline constexpr std::string_view replyNext = "[N]";           // accepted: send the next record
inline constexpr std::string_view replyOldMonitor = "[I]";     // Monitor too old
inline constexpr std::string_view replyInvalidMonitor = "[J]"; // Monitor not valid
inline constexpr std::string_view replyInvalidMonitor2 = "[K]";
inline constexpr std::string_view replyRestart = "[L]"; // start again with record 1
inline constexpr std::string_view replyResend = "[R]";  // record refused: send it again
inline constexpr std::size_t replyLength = 3;

// Message boxes of an upload run.
inline constexpr std::string_view messageCompleted = "TRANSMISSÃO CONCLUIDA !!";
inline constexpr std::string_view messageNoAnswer = "PLACA NÃO RESPONDE !";
inline constexpr std::string_view messageOldMonitor = "Monitor Versão Antiga !!";
inline constexpr std::string_view messageInvalidMonitor = "Monitor Versão Não Válida !!";
// The board's answers can no longer be matched to the records sent (an answer too soon to be the
// record's, or a line that never falls quiet): a record may be missing, so the run stops.
inline constexpr std::string_view messageUncertain =
    "TRANSMISSÃO NÃO CONFIRMADA ! REPITA A TRANSMISSÃO";

// The window leaves the stop after four "[R]" silent; where a run's end must be put in words (the
// command line, the run log), this names the record, or the programming-mode command (record 0,
// still outstanding when the refusals came).
inline std::string recordRejectedMessage(std::int32_t record) {
    if (record == 0) return "COMANDO DE PROGRAMAÇÃO RECUSADO PELA PLACA !";
    return "REGISTRO " + std::to_string(record) + " RECUSADO PELA PLACA !";
}

// Window texts the upload logic sets.
inline constexpr std::string_view captionStart = "Iniciar";
inline constexpr std::string_view defaultPortName = "COM1";

} // namespace upload
