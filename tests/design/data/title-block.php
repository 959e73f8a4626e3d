        <?php
        $iet = isset($_GET["in"]) ? $_GET["in"] : null;
        if (! isset ($iet))$_GET["in"] = 1;
        if ($iet == "")
            $iet = 1;
        $iet = sprintf("%04d", $iet);
        settype($iet, "string");
        $file = fopen("etc/head.txt", "r");
        $buff = "";
        while (!feof($file))
        {
            $buff = fgets($file);
            if (strstr($buff, $iet) != false)
            {
                echo substr($buff, 5);
                fclose($file);
                $sin = isset($_GET["sin"]) ? $_GET["sin"] : null;
                if ( isset ($sin))
                {
                    echo " - ";
                    $iet = sprintf("%04d", $sin);
                    $fp = fopen("etc/head.txt", "r");
                    $buff = "";
                    while (!feof($fp))
                    {
                       $buff = fgets($fp);
                       if (strstr($buff, $iet) != false)
                       {
                            echo substr($buff, 5);
                            break;
                       }
                    }
                }
                break;
            }
        }
        ?>
