# fish completion for blockmqo-cli: its options, the formats, and block data
# files (*.bd1) for the operands.
complete -c blockmqo-cli -s o -l output -r -F -d 'Write the one input to FILE'
complete -c blockmqo-cli -s d -l directory -x -a '(__fish_complete_directories)' -d 'Write every output into DIR, made when missing'
complete -c blockmqo-cli -s f -l format -x -a 'mqo obj glb' -d 'What to write'
complete -c blockmqo-cli -l remove-hidden-faces -d 'Drop the faces two blocks hide from each other'
complete -c blockmqo-cli -l share-vertices -d 'Make corners at the same position one vertex'
complete -c blockmqo-cli -l optimize -d 'Both of the above'
complete -c blockmqo-cli -l overwrite -d 'Let outputs not named replace files'
complete -c blockmqo-cli -l textures -x -a '(__fish_complete_directories)' -d 'Look for texture images in DIR'
complete -c blockmqo-cli -s q -l quiet -d 'Print no warnings and no progress'
complete -c blockmqo-cli -s h -l help -d 'Print a usage summary'
complete -c blockmqo-cli -l version -d 'Print the version'
complete -c blockmqo-cli -k -a '(__fish_complete_suffix .bd1)'
