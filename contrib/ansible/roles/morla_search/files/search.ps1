# Runs morla.exe with its standard output and error going straight to the two
# files, byte for byte, and returns its exit status.
param([string]$Exe, [string]$Pattern, [string[]]$Drives, [string]$Out, [string]$Err)
$ErrorActionPreference = 'Stop'
$Ansible.Changed = $false
# One argument quoted so that the C runtime reads it back unchanged: a run of
# backslashes is doubled before a quote and at the end, and a quote escaped.
function ConvertTo-Argument([string]$Text) {
    '"' + ($Text -replace '(\\*)"', '$1$1\"' -replace '(\\+)$', '$1$1') + '"'
}
$arguments = (@($Pattern) + @($Drives | Where-Object { $_ }) | ForEach-Object { ConvertTo-Argument $_ }) -join ' '
$run = Start-Process -FilePath $Exe -ArgumentList $arguments -NoNewWindow -Wait -PassThru `
    -RedirectStandardOutput $Out -RedirectStandardError $Err
$Ansible.Result = $run.ExitCode
