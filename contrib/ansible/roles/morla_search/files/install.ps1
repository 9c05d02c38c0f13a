# Puts morla.exe out of the zip into the install folder, unless the same file
# is there already.
param([string]$Zip, [string]$Folder)
$ErrorActionPreference = 'Stop'
$Ansible.Changed = $false
$unpacked = Join-Path ([IO.Path]::GetDirectoryName($Zip)) 'unpacked'
Expand-Archive -LiteralPath $Zip -DestinationPath $unpacked -Force
$exe = @(Get-ChildItem -LiteralPath $unpacked -Recurse -Filter morla.exe | Where-Object { $_.Directory.Name -eq 'bin' })
if ($exe.Count -ne 1) { throw "The zip holds $($exe.Count) bin\morla.exe, not one" }
$target = Join-Path $Folder 'morla.exe'
$same = (Test-Path -LiteralPath $target) -and
    (Get-FileHash -LiteralPath $target).Hash -eq (Get-FileHash -LiteralPath $exe[0].FullName).Hash
if (-not $same) {
    New-Item -ItemType Directory -Force -Path $Folder | Out-Null
    Copy-Item -LiteralPath $exe[0].FullName -Destination $target -Force
    $Ansible.Changed = $true
}
$Ansible.Result = $target
