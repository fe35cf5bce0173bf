Scriptname Ulvaric Hidden
{Console access for scripts, provided by the Quorvane plugin (Quorvane.dll).}

; Shows text in the in-game console exactly as given ("%" included).
Function PrintMessage(String text) Global Native

; Runs text as a console command, as if it had been typed into the console.
Function ExecuteCommand(String command) Global Native

; Makes reference the console's selected reference; None clears the selection.
Function SetSelectedReference(ObjectReference reference) Global Native

; The console's selected reference, or None when nothing is selected.
ObjectReference Function GetSelectedReference() Global Native

; The plugin's version as scripts see it.
Int Function GetVersion() Global Native
