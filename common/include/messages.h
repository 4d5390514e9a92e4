#pragma once

#include <QLatin1String>
#include <QString>

// The names of the messages the desktop and the printer exchange (see protocol.h for the
// frames that carry them). A message is its name, then its fields, each after a ","
// unless noted; free text in a field is an encoded field (Protocol::encodeField()).
// Dispatchers and senders on both sides use these constants, never a spelled-out name.
//
// How a receiver recognises a name in a message:
//   equals      - the whole message, or its field 0, is the name;
//   starts with - the message begins with the name (names followed by text, no ",");
//   contains    - the name occurs anywhere in the message (the printer's old dispatcher).
namespace Message {

enum class Match { Equals, StartsWith, Contains };

// True when `message` carries `name` in the way `match` says.
inline bool matches(const QString &message, const char *name, Match match)
{
    switch (match) {
    case Match::Equals:
        return message == QLatin1String(name);
    case Match::StartsWith:
        return message.startsWith(QLatin1String(name));
    case Match::Contains:
        break;
    }
    return message.contains(QLatin1String(name));
}

// ---- Connection ---------------------------------------------------------------------

// desktop to printer, as a raw frame at connect: the greeting; no fields.
inline constexpr char kGreeting[] = "Tessora_Server";
// printer to desktop, in reply to the greeting: serial, nickname, model, version, status
// name, resin list, Wi-Fi names joined by "*&next&*", G parameter (Protocol::handshakeReply).
inline constexpr char kHandshake[] = "Tessora_Client";
// both ways, after 2000 ms without another message: the heartbeat; no fields.
inline constexpr char kKeepAlive[] = "Connection-Alive";

// ---- Desktop to printer ---------------------------------------------------------------

// job line: the print job record's text (PrintJob::toString()); the job stream follows
// once the printer asks for it.
inline constexpr char kSendingPrintJob[] = "Status_SendingPrintJob";
// a program update follows as a job stream; no fields. The desktop never sends it.
inline constexpr char kUpdatedClient[] = "Send_UpdatedClient";
// the whole resin list text right after the name, without ",".
inline constexpr char kResinData[] = "Send_ResinData";
// name, password and type, each after this name instead of ",": the Wi-Fi to join.
inline constexpr char kNetworkInfo[] = "Send_NetworkInfo";
// no fields: answered with a progress report.
inline constexpr char kRequestProgress[] = "Request_PrintProgress";
// no fields. Printer to desktop as well: the front button paused the print.
inline constexpr char kPausePrint[] = "Request_PausePrint";
// no fields. Printer to desktop as well: the front button resumed the print.
inline constexpr char kResumePrint[] = "Request_ResumePrint";
// no fields. Printer to desktop as well: the front button cancelled the print.
inline constexpr char kCancelPrint[] = "Request_CancelPrint";
// nickname.
inline constexpr char kNewNickname[] = "Server_NewNickname";
// no fields: the platform moves up for a second.
inline constexpr char kPlatformUp[] = "Request_PlatformUp";
// no fields: the platform moves down for a second.
inline constexpr char kPlatformDown[] = "Request_PlatformDown";
// no fields: the vat tilts up for half a second.
inline constexpr char kTiltUp[] = "Request_TiltUp";
// no fields: the vat tilts down for half a second.
inline constexpr char kTiltDown[] = "Request_TiltDown";
// no fields: the last received job is printed again.
inline constexpr char kReprint[] = "Request_Reprint";
// no fields: the printer opens its own access point.
inline constexpr char kResetNetwork[] = "Request_ResetNetwork";
// no fields: the printer program ends. The desktop never sends it.
inline constexpr char kQuitClient[] = "Server_QUITCLIENT";
// no fields: the board's QA G command.
inline constexpr char kQaGCommand[] = "Request_QA_GCommand";
// no fields: the same as kQaGCommand. The desktop never sends it.
inline constexpr char kQaG0[] = "Request_QA_G0";
// no fields: the projector shows the calibration grid.
inline constexpr char kQaProjectGrid[] = "Request_QA_ProjectGrid";
// no fields: the projector shows white. The desktop never sends it.
inline constexpr char kQaProjectBlue[] = "Request_QA_ProjectBlue";
// no fields: the projector goes off.
inline constexpr char kQaTurnOffProjector[] = "Request_QA_TurnOffProjector";
// serial, model: the printer's new identity.
inline constexpr char kNewSerialAndModel[] = "Send_NewSerialAndModel";
// no fields: answered with the grayscale grid as kNewGrayscale chunks. The desktop never
// sends it.
inline constexpr char kRequestGrayscale[] = "Request_Grayscale";
// JSON text of up to three rows of the grayscale grid (commas of its own). Both ways; the
// desktop ignores it.
inline constexpr char kNewGrayscale[] = "Send_NewGrayscale";
// a whole number: the board's G parameter.
inline constexpr char kGParameter[] = "Send_GParameter";
// a whole number: the G parameter, kept as the factory value too.
inline constexpr char kFactoryGParameter[] = "Send_FactoryGParameter";
// no fields: the G parameter goes back to the factory value.
inline constexpr char kResetGParameter[] = "Send_ResetGParameterToFactory";
// a board command line, written to the board as it is.
inline constexpr char kBoardCommand[] = "Send_PiToBoardCommand";

// ---- Printer to desktop ---------------------------------------------------------------

// layer, percent, time left, job file name, resin name, layer thickness.
inline constexpr char kPrintProgress[] = "Send_PrintProgress";
// no fields: the final movement of a finished print is done.
inline constexpr char kPrintDone[] = "Send_PrintDone";
// no fields: the job line was taken; the job stream may follow.
inline constexpr char kFileTransfer[] = "Client_Request_FileTransfer";
// no fields: the printer's program wants an update.
inline constexpr char kRequestUpdate[] = "Request_Update";
// the error number (PrinterErrors::Code).
inline constexpr char kPrintingError[] = "Send_PrintingError";
// no fields: the board finished the movement of a pause.
inline constexpr char kPauseDone[] = "Send_PauseMovementDone";
// no fields: the board finished the movement of a resume.
inline constexpr char kResumeDone[] = "Send_ResumeMovementDone";
// status name: sent whenever the status the printer reports changes (a print starts,
// pauses, resumes or ends, by a finish, a cancel or a lost board link alike), so that the
// desktop never shows a state the printer left.
inline constexpr char kPrintStatus[] = "Send_PrintStatus";
// request name, status name, reason: the request (a job, a reprint, a network change, a
// pause or resume with nothing to pause or resume, ...) was not carried out; the status is
// the printer's at that moment and the reason is words for the user (an encoded field).
inline constexpr char kRequestRefused[] = "Send_RequestRefused";

} // namespace Message
