# fish completion for morvik. cli/tests/completions.sh holds it to the --help
# texts: every command and option there, and no other.

set -l commands encrypt decrypt hex asc help
complete -c morvik -f
complete -c morvik -n "not __fish_seen_subcommand_from $commands" -a encrypt -d 'encrypt bytes into a ciphertext'
complete -c morvik -n "not __fish_seen_subcommand_from $commands" -a decrypt -d 'decrypt a ciphertext into bytes'
complete -c morvik -n "not __fish_seen_subcommand_from $commands" -a hex -d 'convert between bytes and hex text'
complete -c morvik -n "not __fish_seen_subcommand_from $commands" -a asc -d 'convert between bytes and armoured text'
complete -c morvik -n "not __fish_seen_subcommand_from $commands" -a help -d 'show the help of a command'
complete -c morvik -n "not __fish_seen_subcommand_from $commands" -l version -d 'show the version'
complete -c morvik -n "__fish_seen_subcommand_from hex asc; and not __fish_seen_subcommand_from encode decode" -a 'encode decode'
complete -c morvik -n "__fish_seen_subcommand_from help" -a 'encrypt decrypt hex asc'

# Every command: input and output.
set -l any "__fish_seen_subcommand_from encrypt decrypt encode decode"
complete -c morvik -n $any -F
complete -c morvik -n $any -l text -x -d 'take the input from TEXT'
complete -c morvik -n $any -s o -l output -r -F -d 'write to FILE'
complete -c morvik -n $any -l no-progress -d 'no progress line'
complete -c morvik -s h -l help -d 'show the help'
complete -c morvik -n "__fish_seen_subcommand_from decrypt decode" -l exact-input -d 'keep a final line break of the text read'

# encrypt and decrypt.
set -l cipher "__fish_seen_subcommand_from encrypt decrypt"
complete -c morvik -n $cipher -l form -x -a 'raw hex asc' -d 'form of the ciphertext'
complete -c morvik -n $cipher -l key-hex -x -d 'the key as hex text'
complete -c morvik -n $cipher -l key -x -d 'the key as text'
complete -c morvik -n $cipher -l key-file -r -F -d 'the key: the raw bytes of FILE'
complete -c morvik -n $cipher -l key-prompt -d 'the key typed at the terminal'
complete -c morvik -n $cipher -l bits -x -d 'effective key length in bits, 0 to 1024'
complete -c morvik -n $cipher -l kernel -x -a 'scalar sse2 avx2 avx512' -d 'bulk kernel'
complete -c morvik -n $cipher -l utf8 -d 'the plaintext as UTF-8'
complete -c morvik -n $cipher -l lines -d 'every line is one message'
complete -c morvik -n $cipher -l csv -x -d 'the field in COLUMN of every row is one message'
complete -c morvik -n $cipher -l header -d 'with --csv: the first row holds names'
complete -c morvik -n $cipher -l delimiter -x -a 'tab ,' -d 'with --csv: the field delimiter'
complete -c morvik -n $cipher -l keep-going -d 'the same as --on-error empty'
complete -c morvik -n $cipher -l on-error -x -a 'stop keep empty' -d 'what a bad record does'
complete -c morvik -n "__fish_seen_subcommand_from encrypt" -l allow-trailing-zeros -d 'encrypt an input that ends in zero bytes'
