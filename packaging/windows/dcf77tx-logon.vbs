' Started at logon by the task dcf77tx: runs dcf77tx-logon.cmd (dcf77tx with
' the options of its settings) in a hidden window, so that no console opens
' at logon. As the Linux service does, a failure (status 1: a sound device or
' USB adapter pulled out) is retried after 10 s until the device is back; a
' finished run (0) or a bad setting (2) ends it with dcf77tx's status.
' Ending the task ends this script: dcf77tx itself then ends with
'   taskkill /F /IM dcf77tx.exe
Option Explicit
Dim shell, folder, status
Set shell = CreateObject("WScript.Shell")
folder = Left(WScript.ScriptFullName, InStrRev(WScript.ScriptFullName, "\") - 1)
Do
  status = shell.Run("cmd.exe /d /c """"" & folder & "\dcf77tx-logon.cmd""""", 0, True)
  If status = 0 Or status = 2 Then Exit Do
  WScript.Sleep 10000
Loop
WScript.Quit status
