#pragma once
// The two code spaces of the voice-modem engine.  Their numbers overlap
// (0x2011 is the answer "RING" and the event "DTMF digit"), so each is a
// type of its own and the compiler keeps them apart.
namespace zv {

// What a line from the modem was: one of the alternatives the caller
// expected, an answer keyword, the empty line, or nothing known.
enum class ModemAnswer : int {
  Sent = 0,             // Command: the command went out, no answer was expected
  Expected = 0x1000,    // the first expected alternative; the n-th is ExpectedAnswer(n)
  Busy = 0x2000,        // "BUSY"
  Connect = 0x2001,     // "CONNECT"
  Empty = 0x2002,       // the empty line
  Error = 0x2003,       // "ERROR"
  Fax = 0x2004,         // "FAX"
  FCon = 0x2005,        // "+FCON"
  FCo = 0x2006,         // "+FCO"
  NoAnswer = 0x2007,    // "NO ANSWER"
  NoCarrier = 0x2008,   // "NO CARRIER"
  NoDialTone = 0x2009,  // "NO DIALTONE", "NO DIAL TONE"
  Ok = 0x200A,          // "OK"
  Ringing = 0x200B,     // "RINGING"
  Ring1 = 0x200C,       // "RING1", "RING 1", "RING A"
  Ring2 = 0x200D,
  Ring3 = 0x200E,
  Ring4 = 0x200F,
  Ring5 = 0x2010,
  Ring = 0x2011,     // "RING"
  VCon = 0x2012,     // "VCON", "#VCON", "VOICE"
  NoMatch = 0x4000,  // anything else, and every failed exchange
};

// At most this many alternatives are told apart.
constexpr int kMaxExpectedAnswers = 16;

// The n-th expected alternative (0-based).
constexpr ModemAnswer ExpectedAnswer(int n) {
  return static_cast<ModemAnswer>(static_cast<int>(ModemAnswer::Expected) + n);
}
// Which expected alternative an answer is, -1 when it is none.
constexpr int ExpectedIndex(ModemAnswer a) {
  const int n = static_cast<int>(a) - static_cast<int>(ModemAnswer::Expected);
  return n >= 0 && n < kMaxExpectedAnswers ? n : -1;
}
// The number of an answer, where an operation returns it as its result.
constexpr int AnswerCode(ModemAnswer a) {
  return static_cast<int>(a);
}

// What the engine's event queue carries.  Most events are the modem's
// shielded codes (DLE and a letter, named below by what they report, or by
// their letters where the command set leaves that open); the rest come
// from the engine and its drivers.
enum class ModemEvent : int {
  None = 0,
  Bong = 0x2000,             // DLE $
  Busy = 0x2001,             // DLE b or K; "BUSY" while dialling
  DleW = 0x2002,             // DLE w
  DialTone = 0x2003,         // DLE d or i
  DataTone = 0x2004,         // DLE e or f
  AnswerTone = 0x2005,       // DLE a
  CallingTone = 0x2006,      // DLE c or m
  OffHook = 0x2007,          // DLE h or p
  OnHook = 0x2008,           // DLE H or P
  LoopInterrupted = 0x2009,  // DLE l
  LoopReversed = 0x200A,     // DLE L
  NoAnswer = 0x200B,         // "NO ANSWER" while dialling
  NoDialTone = 0x200D,       // "NO DIALTONE" while dialling
  Silence = 0x200E,          // DLE s
  Ring = 0x200F,             // DLE R
  Ringback = 0x2010,         // DLE r
  Dtmf = 0x2011,             // DLE and a digit 0-9, *, #, A-D; the data holds the digit
  Quiet = 0x2012,            // DLE q
  DleJ = 0x2013,             // DLE J
  DleT = 0x2014,             // DLE t
  DleV = 0x2015,             // DLE V or v
  TimeLimit = 0x2021,        // a dial, play, record or wait loop reached its time limit
  PortError = 0x4005,        // the port failed
  Stop = 0x4009,             // Stop: whatever runs ends
};

// The number of an event, as the logs write it.
constexpr int EventCode(ModemEvent e) {
  return static_cast<int>(e);
}

}  // namespace zv
