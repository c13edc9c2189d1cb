; An installer built with NSIS that sets its error level to 3 and says
; nothing: setup.exe's exit codes are tested with a real installer's.
; makensis -DOUT=PATH error_level.nsi
Name "Error level"
OutFile "${OUT}"
Unicode false
RequestExecutionLevel user
SilentInstall silent

Section
  SetErrorLevel 3
SectionEnd
