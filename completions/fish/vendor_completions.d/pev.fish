# fish completion for pev: its commands, each command's options, and .pev
# files (or sound files and folders where pack takes them).

set -l commands list extract cat test pack replace mount unmount help

# Archives (.pev in any letter case) and folders, and no other files.
function __pev_archives
    for file in (commandline -ct)*
        if test -d $file
            echo $file/
        else if string match -qi -- '*.pev' $file
            echo $file
        end
    end
end

complete -c pev -f
complete -c pev -n "not __fish_seen_subcommand_from $commands" -a list -d 'list the clips'
complete -c pev -n "not __fish_seen_subcommand_from $commands" -a extract -d 'write the clips as WAV or other sound files'
complete -c pev -n "not __fish_seen_subcommand_from $commands" -a cat -d 'write one clip to standard output'
complete -c pev -n "not __fish_seen_subcommand_from $commands" -a test -d 'check that every clip can be extracted'
complete -c pev -n "not __fish_seen_subcommand_from $commands" -a pack -d 'pack WAV or other sound files into a voice archive'
complete -c pev -n "not __fish_seen_subcommand_from $commands" -a replace -d 'replace clips of an archive with WAV or other sound files'
complete -c pev -n "not __fish_seen_subcommand_from $commands" -a mount -d 'show an archive as a folder of WAV files'
complete -c pev -n "not __fish_seen_subcommand_from $commands" -a unmount -d 'write what a mounted folder holds, and unmount it'
complete -c pev -n "not __fish_seen_subcommand_from $commands" -a help -d 'show the help'
complete -c pev -n "not __fish_seen_subcommand_from pack unmount help" -a '(__pev_archives)'
complete -c pev -n "__fish_seen_subcommand_from mount unmount" -a '(__fish_complete_directories)'
complete -c pev -n "__fish_seen_subcommand_from pack" -F
complete -c pev -n "__fish_seen_subcommand_from help" -a "list extract cat test pack replace mount unmount"

complete -c pev -s h -l help -d 'show the help'
complete -c pev -n "not __fish_seen_subcommand_from $commands" -l version -d 'show the version'
complete -c pev -n "__fish_seen_subcommand_from list test" -l json -d 'print one JSON document'
complete -c pev -n "not __fish_seen_subcommand_from list cat test pack replace mount unmount help" -s o -l output -r -a '(__fish_complete_directories)' -d 'write into DIR'
complete -c pev -n "__fish_seen_subcommand_from replace" -s o -l output -r -a '(__pev_archives)' -d 'write OUT instead of replacing ARCHIVE'
complete -c pev -n "not __fish_seen_subcommand_from list cat test mount unmount help" -l force -d 'replace existing files'
complete -c pev -n "not __fish_seen_subcommand_from list cat test pack mount unmount help" -s n -l skip-existing -d 'keep existing files, write the rest'
complete -c pev -n "not __fish_seen_subcommand_from list cat test mount unmount help" -s q -l quiet -d 'print no summary line'
complete -c pev -n "not __fish_seen_subcommand_from list cat test mount unmount help" -s v -l verbose -d 'print a line per file'
complete -c pev -n "__fish_seen_subcommand_from extract list test" -s c -l clips -x -d 'only these clips: 1,5-9,12,20-'
complete -c pev -n "__fish_seen_subcommand_from extract mount replace" -l name -x -d 'name the files after TEMPLATE'
complete -c pev -n "__fish_seen_subcommand_from extract" -l dry-run -d 'print what would be written'
complete -c pev -n "__fish_seen_subcommand_from pack" -l like -r -a '(__pev_archives)' -d 'keep the entry ids of ARCHIVE'
complete -c pev -n "__fish_seen_subcommand_from extract list test" -l id -x -d 'only these entry ids: 3,7-9'
complete -c pev -n "__fish_seen_subcommand_from mount" -l write -d 'take saved clips back into the archive'
complete -c pev -n "__fish_seen_subcommand_from mount" -s f -l foreground -d 'stay in the foreground, log to standard error'
complete -c pev -n "__fish_seen_subcommand_from mount" -l log -r -F -d 'log to FILE, appending'
complete -c pev -n "__fish_seen_subcommand_from mount" -s o -x -a 'allow_other allow_root default_permissions ro' -d 'mount options'
complete -c pev -n "__fish_seen_subcommand_from extract cat" -l format -x -a 'wav flac ogg opus mp3 aiff' -d 'write files of FORMAT'
complete -c pev -n "__fish_seen_subcommand_from extract cat pack" -l rate -x -d 'resample to HZ'
complete -c pev -n "__fish_seen_subcommand_from extract cat pack replace" -l no-dither -d 'round to 16 bits without dither'
complete -c pev -n "__fish_seen_subcommand_from list" -l loudness -d 'measure loudness (LUFS) and peaks'
complete -c pev -n "__fish_seen_subcommand_from replace" -l from -r -a '(__fish_complete_directories)' -d 'replace clips by the sound files of DIR named after them'
complete -c pev -n "__fish_seen_subcommand_from replace" -l ignore-unmatched -d 'leave aside files named after no clip'
complete -c pev -n "__fish_seen_subcommand_from replace" -l match-loudness -d 'give each recording the loudness of its clip'
complete -c pev -n "__fish_seen_subcommand_from replace" -l max-longer -x -d 'name recordings longer by more than PCT%'
complete -c pev -n "__fish_seen_subcommand_from replace" -l max-shorter -x -d 'name recordings shorter by more than PCT%'
complete -c pev -n "__fish_seen_subcommand_from replace" -l strict-length -d 'refuse recordings out of those bounds'
complete -c pev -n "__fish_seen_subcommand_from replace" -l dry-run -d 'print what would change; write nothing'
complete -c pev -n "__fish_seen_subcommand_from replace" -l json -d 'print one JSON document'
