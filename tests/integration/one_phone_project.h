// The project the road tests share: one phone-book entry and one rule that takes every alarm of
// Tank1 to it, on COM2 (UTF-8 here; the tests convert it to code page 936).
#pragma once

namespace pagorin::sim {

inline constexpr const char* kOnePhoneConfig =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<XML Version=\"1\" Com=\"1\" Baund=\"2\" DataBit=\"1\" TelCount=\"1\" VarCount=\"1\">\r\n"
    "<Tel0 TelNum=\"13800138000\" Desc=\"值班室\"></Tel0>\r\n"
    "<Var0 VarName=\"Tank1.PV\" Desc=\"清水池\" Ll=\"1\" Lo=\"1\" Hh=\"1\" Hi=\"1\" Low=\"1\" "
    "Hig=\"1\" Urg=\"1\" Ack=\"1\" NoAck=\"1\" Resume=\"1\" Value=\"1\" ValueLimit=\"0\" "
    "User=\"0\" Format=\"0\" Logic=\"0\" BScript=\"0\" Script=\"\" ScriptType=\"0\" "
    "VarCount=\"1\" TelPlace0=\"0\"></Var0>\r\n"
    "</XML>\r\n";

}  // namespace pagorin::sim
