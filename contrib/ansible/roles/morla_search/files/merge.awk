# Writes each line of the files named (HOST.txt) to the file MORLA_MERGED
# names, after its host and a tab, and prints each file's count of lines in
# the order given. A Windows host's CR before the line end is dropped.
FNR == 1 {
    host = FILENAME
    sub(/\.txt$/, "", host)
}
{
    sub(/\r$/, "")
    print host "\t" $0 > ENVIRON["MORLA_MERGED"]
    lines[FILENAME]++
}
END {
    printf "" > ENVIRON["MORLA_MERGED"]
    for (i = 1; i < ARGC; i++) print lines[ARGV[i]] + 0
}
